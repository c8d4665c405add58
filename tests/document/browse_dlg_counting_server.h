#pragma once
// A server object that passes everything on to a simulation server and counts the browse calls
// it sees, so tests can check how often the new items dialog asks the server.

#include <string>
#include <vector>

#include "com/activation.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/unicode.h"
#include "opcda/browse.h"
#include "opcda/server.h"
#include "sim/simulator.h"

inline constexpr CLSID CLSID_CountingBrowseServer{
    0x3E51A7C2, 0x6D04, 0x4B19, {0x8A, 0x2F, 0x71, 0xC3, 0x95, 0x0E, 0xB4, 0x27}};
inline constexpr const char* kCountingBrowseProgId = "Tagvista.Test.CountingBrowse.1";

struct BrowseCallLog {
    int moves = 0;
    // The position of every branch listing, as the moves since the last climb spelled it.
    std::vector<std::string> branchListings;
    int leafListings = 0;
    std::string position;  // the moves down since the last move up, joined with "/"
};

class CountingBrowseServer final : public ComObject<IOPCServer, IOPCBrowseServerAddressSpace> {
  public:
    CountingBrowseServer(ComPtr<IUnknown> inner, BrowseCallLog& log) : log_(log) {
        inner.As(server_);
        inner.As(browse_);
    }

    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                     OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                     LPUNKNOWN* ppUnk) override {
        return server_->AddGroup(szName, bActive, dwRequestedUpdateRate, hClientGroup, pTimeBias,
                                 pPercentDeadband, dwLCID, phServerGroup, pRevisedUpdateRate, riid,
                                 ppUnk);
    }
    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        return server_->GetErrorString(dwError, dwLocale, ppString);
    }
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        return server_->GetGroupByName(szName, riid, ppUnk);
    }
    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        return server_->GetStatus(ppServerStatus);
    }
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        return server_->RemoveGroup(hServerGroup, bForce);
    }
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override {
        return server_->CreateGroupEnumerator(dwScope, riid, ppUnk);
    }

    HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        return browse_->QueryOrganization(pNameSpaceType);
    }
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
        ++log_.moves;
        const HRESULT hr = browse_->ChangeBrowsePosition(dwBrowseDirection, szString);
        if (dwBrowseDirection == OPC_BROWSE_UP) {
            log_.position.clear();
        } else if (hr == S_OK) {
            log_.position += (log_.position.empty() ? "" : "/") + Utf16ToUtf8(szString);
        }
        return hr;
    }
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                             LPENUMSTRING* ppIEnumString) override {
        if (dwBrowseFilterType == OPC_BRANCH) {
            log_.branchListings.push_back(log_.position);
        } else {
            ++log_.leafListings;
        }
        return browse_->BrowseOPCItemIDs(dwBrowseFilterType, szFilterCriteria, vtDataTypeFilter,
                                         dwAccessRightsFilter, ppIEnumString);
    }
    HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        return browse_->GetItemID(szItemDataID, szItemID);
    }
    HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override {
        return browse_->BrowseAccessPaths(szItemID, ppIEnumString);
    }

  private:
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCBrowseServerAddressSpace> browse_;
    BrowseCallLog& log_;
};

class CountingBrowseFactory final : public ComObject<IClassFactory> {
  public:
    CountingBrowseFactory(Simulator& sim, BrowseCallLog& log) : sim_(sim), log_(log) {}

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        const ComPtr<CountingBrowseServer> server =
            MakeComObject<CountingBrowseServer>(sim_.CreateServer(), log_);
        return server->QueryInterface(riid, ppvObject);
    }
    HRESULT LockServer(BOOL /*fLock*/) override { return S_OK; }

  private:
    Simulator& sim_;
    BrowseCallLog& log_;
};

// Registers the counting server for the life of a scope.
class ScopedCountingBrowseServer {
  public:
    ScopedCountingBrowseServer(Simulator& sim, BrowseCallLog& log)
        : factory_(MakeComObject<CountingBrowseFactory>(sim, log)),
          registration_(CLSID_CountingBrowseServer, factory_->GetUnknown(), kCountingBrowseProgId) {
    }

  private:
    ComPtr<CountingBrowseFactory> factory_;
    ScopedClassRegistration registration_;
};
