#pragma once
// A server object that passes group management on to a simulation server and records the
// calls it sees and its own release, so tests can check the order of a teardown.

#include <functional>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/unicode.h"
#include "opcda/server.h"
#include "sim/simulator.h"

inline constexpr CLSID CLSID_RecordingServer{
    0x5A0C7E41, 0x2B3D, 0x4E6F, {0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8}};
inline constexpr const char* kRecordingProgId = "Tagvista.Test.Recording.1";

struct RecordingLog {
    std::vector<std::string> calls;
    // Runs at every RemoveGroup, before it is passed on.
    std::function<void()> onRemoveGroup;
};

class RecordingServer final : public ComObject<IOPCServer> {
  public:
    RecordingServer(ComPtr<IUnknown> inner, RecordingLog& log) : log_(log) { inner.As(inner_); }

    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                     OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                     LPUNKNOWN* ppUnk) override {
        const HRESULT hr = inner_->AddGroup(szName, bActive, dwRequestedUpdateRate, hClientGroup,
                                            pTimeBias, pPercentDeadband, dwLCID, phServerGroup,
                                            pRevisedUpdateRate, riid, ppUnk);
        if (SUCCEEDED(hr) && phServerGroup != nullptr) {
            names_.resize(std::max<std::size_t>(names_.size(), *phServerGroup + 1));
            names_[*phServerGroup] = Utf16ToUtf8(szName);
        }
        log_.calls.push_back("AddGroup " + Utf16ToUtf8(szName) + " rate " +
                             std::to_string(dwRequestedUpdateRate));
        return hr;
    }
    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        return inner_->GetErrorString(dwError, dwLocale, ppString);
    }
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        return inner_->GetGroupByName(szName, riid, ppUnk);
    }
    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        return inner_->GetStatus(ppServerStatus);
    }
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        if (log_.onRemoveGroup) {
            log_.onRemoveGroup();
        }
        const std::string name = hServerGroup < names_.size() ? names_[hServerGroup] : "?";
        log_.calls.push_back("RemoveGroup " + name + (bForce ? " forced" : ""));
        return inner_->RemoveGroup(hServerGroup, bForce);
    }
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override {
        return inner_->CreateGroupEnumerator(dwScope, riid, ppUnk);
    }

  private:
    ~RecordingServer() override { log_.calls.push_back("released"); }

    ComPtr<IOPCServer> inner_;
    RecordingLog& log_;
    std::vector<std::string> names_;
};

class RecordingFactory final : public ComObject<IClassFactory> {
  public:
    RecordingFactory(Simulator& sim, RecordingLog& log) : sim_(sim), log_(log) {}

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        const ComPtr<RecordingServer> server =
            MakeComObject<RecordingServer>(sim_.CreateServer(), log_);
        return server->QueryInterface(riid, ppvObject);
    }
    HRESULT LockServer(BOOL /*fLock*/) override { return S_OK; }

  private:
    Simulator& sim_;
    RecordingLog& log_;
};

// Registers the recording server for the life of a scope.
class ScopedRecordingServer {
  public:
    ScopedRecordingServer(Simulator& sim, RecordingLog& log)
        : factory_(MakeComObject<RecordingFactory>(sim, log)),
          registration_(CLSID_RecordingServer, factory_->GetUnknown(), kRecordingProgId) {}

  private:
    ComPtr<RecordingFactory> factory_;
    ScopedClassRegistration registration_;
};
