#pragma once
// A minimal client for the simulator's white-box tests: a recording data callback, a recording
// advise sink, and helpers that add groups and items.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/clipboard_format.h"
#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/data_object.h"
#include "com/malloc.h"
#include "opcda/opcda.h"
#include "sim/owned_variant.h"
#include "sim/simulator.h"

struct Delivered {
    enum class Kind { Data, Read, Write, Cancel };
    Kind kind = Kind::Data;
    DWORD transaction = 0;
    OPCHANDLE group = 0;
    std::vector<OPCHANDLE> handles;
    std::vector<OwnedVariant> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
    const OPCHANDLE* handleArray = nullptr;  // the server's array, to see it reused
};

class RecordingCallback final : public ComObject<IOPCDataCallback> {
  public:
    std::vector<Delivered> calls;
    // Runs inside OnDataChange, after the call was recorded.
    std::function<void(const Delivered&)> onData;

    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                         OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                         FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        Record(Delivered::Kind::Data, dwTransid, hGroup, dwCount, phClientItems, pvValues,
               pwQualities, pftTimeStamps, pErrors);
        if (onData) {
            onData(calls.back());
        }
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                           OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                           FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        Record(Delivered::Kind::Read, dwTransid, hGroup, dwCount, phClientItems, pvValues,
               pwQualities, pftTimeStamps, pErrors);
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, DWORD dwCount,
                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        Record(Delivered::Kind::Write, dwTransid, hGroup, dwCount, pClienthandles, nullptr, nullptr,
               nullptr, pErrors);
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        Record(Delivered::Kind::Cancel, dwTransid, hGroup, 0, nullptr, nullptr, nullptr, nullptr,
               nullptr);
        return S_OK;
    }

    std::vector<Delivered> Take(Delivered::Kind kind) {
        std::vector<Delivered> out;
        for (Delivered& d : calls) {
            if (d.kind == kind) {
                out.push_back(std::move(d));
            }
        }
        calls.clear();
        return out;
    }

  private:
    void Record(Delivered::Kind kind, DWORD transaction, OPCHANDLE group, DWORD count,
                const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities,
                const FILETIME* times, const HRESULT* errors) {
        Delivered d;
        d.kind = kind;
        d.transaction = transaction;
        d.group = group;
        d.handleArray = handles;
        for (DWORD i = 0; i < count; ++i) {
            d.handles.push_back(handles[i]);
            if (values != nullptr) {
                d.values.emplace_back(values[i]);
            }
            if (qualities != nullptr) {
                d.qualities.push_back(qualities[i]);
            }
            if (times != nullptr) {
                d.times.push_back(times[i]);
            }
            d.errors.push_back(errors[i]);
        }
        calls.push_back(std::move(d));
    }
};

class RecordingSink final : public ComObject<IAdviseSink> {
  public:
    struct Block {
        CLIPFORMAT format = 0;
        std::vector<BYTE> bytes;
    };
    std::vector<Block> blocks;

    void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
        const void* data = GlobalLock(pStgmed->hGlobal);
        const auto* bytes = static_cast<const BYTE*>(data);
        blocks.push_back(Block{pFormatetc->cfFormat,
                               std::vector<BYTE>(bytes, bytes + GlobalSize(pStgmed->hGlobal))});
        GlobalUnlock(pStgmed->hGlobal);
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IMoniker*) override {}
    void OnSave() override {}
    void OnClose() override {}
};

// A server with helpers for the calls the tests make again and again.
struct TestServer {
    explicit TestServer(Simulator& sim) {
        ComPtr<IUnknown> unknown = sim.CreateServer();
        EXPECT_EQ(unknown.As(server), S_OK);
    }

    ComPtr<IOPCItemMgt> AddGroup(const char16_t* name, DWORD rate, OPCHANDLE client = 0,
                                 BOOL active = TRUE, FLOAT deadband = 0.0f,
                                 OPCHANDLE* serverHandle = nullptr) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        ComPtr<IUnknown> unknown;
        const HRESULT hr = server->AddGroup(name, active, rate, client, nullptr, &deadband, 0,
                                            &handle, &revised, IID_IUnknown, unknown.Put());
        EXPECT_TRUE(SUCCEEDED(hr));
        if (serverHandle != nullptr) {
            *serverHandle = handle;
        }
        ComPtr<IOPCItemMgt> items;
        EXPECT_EQ(unknown.As(items), S_OK);
        return items;
    }

    ComPtr<IOPCServer> server;
};

// Adds items by id; the client handle of item i is i + 1. Returns the server handles.
inline std::vector<OPCHANDLE> AddItems(IOPCItemMgt* group, const std::vector<std::u16string>& ids,
                                       VARTYPE requested = VT_EMPTY) {
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        defs[i] = OPCITEMDEF{nullptr,   const_cast<LPWSTR>(ids[i].c_str()),
                             TRUE,      static_cast<OPCHANDLE>(i + 1),
                             0,         nullptr,
                             requested, 0};
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors),
              S_OK);
    std::vector<OPCHANDLE> handles;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        handles.push_back(results[i].hServer);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handles;
}

inline DWORD Advise(IUnknown* group, IOPCDataCallback* callback) {
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(ComPtr<IUnknown>(group).As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(callback, &cookie), S_OK);
    return cookie;
}

inline std::uint64_t FileTimeToSimMs(const FILETIME& ft) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - 134116992000000000ULL) / 10000ULL;
}
