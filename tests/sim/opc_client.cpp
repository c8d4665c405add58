#include "opc_client.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "com/bstr.h"
#include "com/malloc.h"
#include "com/oledate.h"
#include "com/safearray.h"
#include "com/unicode.h"

namespace conformance {

// ---- Text ------------------------------------------------------------------------------------

std::u16string W(std::string_view utf8) {
    return Utf8ToUtf16(utf8);
}

std::string U8(const OLECHAR* wide) {
    return wide == nullptr ? std::string() : Utf16ToUtf8(std::u16string_view(wide));
}

// ---- The memory rule -------------------------------------------------------------------------

bool IsTaskMemory(const void* p) {
    if (p == nullptr) {
        return false;
    }
    ComPtr<IMalloc> malloc;
    if (FAILED(CoGetMalloc(MEMCTX_TASK, malloc.Put())) || !malloc) {
        return false;
    }
    return malloc->DidAlloc(const_cast<void*>(p)) == 1;
}

void ExpectTaskMemoryAndFree(void* p, std::string_view what, bool allowNull) {
    if (p == nullptr) {
        EXPECT_TRUE(allowNull) << what << " is null";
        return;
    }
    EXPECT_TRUE(IsTaskMemory(p)) << what << " was not allocated with the task allocator";
    CoTaskMemFree(p);
}

std::string TakeTaskString(LPWSTR text, std::string_view what) {
    std::string out = U8(text);
    ExpectTaskMemoryAndFree(text, what);
    return out;
}

// ---- Values ----------------------------------------------------------------------------------

Variant::Variant(const VARIANT& source) {
    VariantInit(&v_);
    const HRESULT hr = VariantCopy(&v_, &source);
    EXPECT_EQ(hr, S_OK) << "VariantCopy of a value of type " << source.vt;
}

Variant::Variant(Variant&& other) noexcept : v_(other.v_) {
    VariantInit(&other.v_);
}

Variant& Variant::operator=(Variant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
}

Variant Variant::I1(std::int8_t v) {
    Variant r;
    r.v_.vt = VT_I1;
    r.v_.cVal = static_cast<CHAR>(v);
    return r;
}
Variant Variant::UI1(std::uint8_t v) {
    Variant r;
    r.v_.vt = VT_UI1;
    r.v_.bVal = v;
    return r;
}
Variant Variant::I2(std::int16_t v) {
    Variant r;
    r.v_.vt = VT_I2;
    r.v_.iVal = v;
    return r;
}
Variant Variant::UI2(std::uint16_t v) {
    Variant r;
    r.v_.vt = VT_UI2;
    r.v_.uiVal = v;
    return r;
}
Variant Variant::I4(std::int32_t v) {
    Variant r;
    r.v_.vt = VT_I4;
    r.v_.lVal = v;
    return r;
}
Variant Variant::UI4(std::uint32_t v) {
    Variant r;
    r.v_.vt = VT_UI4;
    r.v_.ulVal = v;
    return r;
}
Variant Variant::R4(float v) {
    Variant r;
    r.v_.vt = VT_R4;
    r.v_.fltVal = v;
    return r;
}
Variant Variant::R8(double v) {
    Variant r;
    r.v_.vt = VT_R8;
    r.v_.dblVal = v;
    return r;
}
Variant Variant::Bool(bool v) {
    Variant r;
    r.v_.vt = VT_BOOL;
    r.v_.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
Variant Variant::Text(std::string_view utf8) {
    Variant r;
    r.v_.vt = VT_BSTR;
    r.v_.bstrVal = SysAllocStringUtf8(utf8);
    return r;
}
Variant Variant::Currency(std::int64_t scaled) {
    Variant r;
    r.v_.vt = VT_CY;
    r.v_.cyVal.int64 = scaled;
    return r;
}
Variant Variant::Date(double date) {
    Variant r;
    r.v_.vt = VT_DATE;
    r.v_.date = date;
    return r;
}
Variant Variant::R8Array(const std::vector<double>& values) {
    Variant r;
    SAFEARRAY* const array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        SafeArrayPutElement(array, &i, &values[static_cast<std::size_t>(i)]);
    }
    r.v_.vt = VT_ARRAY | VT_R8;
    r.v_.parray = array;
    return r;
}
Variant Variant::TextArray(const std::vector<std::string>& values) {
    Variant r;
    SAFEARRAY* const array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values.size()));
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        BSTR text = SysAllocStringUtf8(values[static_cast<std::size_t>(i)]);
        SafeArrayPutElement(array, &i, text);
        SysFreeString(text);
    }
    r.v_.vt = VT_ARRAY | VT_BSTR;
    r.v_.parray = array;
    return r;
}

std::optional<double> NumberOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_INT:
            return v.intVal;
        case VT_UINT:
            return v.uintVal;
        case VT_R4:
            return v.fltVal;
        case VT_R8:
            return v.dblVal;
        case VT_BOOL:
            return v.boolVal;
        default:
            return std::nullopt;
    }
}

std::optional<std::string> TextOf(const VARIANT& v) {
    if (v.vt != VT_BSTR) {
        return std::nullopt;
    }
    return BstrToUtf8(v.bstrVal);
}

namespace {

// The elements of a one-dimensional array of the given element type.
template <class T, class Read>
std::optional<std::vector<T>> ArrayOf(const VARIANT& v, VARTYPE element, Read read) {
    if (v.vt != (VT_ARRAY | element) || v.parray == nullptr || SafeArrayGetDim(v.parray) != 1) {
        return std::nullopt;
    }
    LONG low = 0;
    LONG high = -1;
    if (FAILED(SafeArrayGetLBound(v.parray, 1, &low)) ||
        FAILED(SafeArrayGetUBound(v.parray, 1, &high))) {
        return std::nullopt;
    }
    std::vector<T> out;
    for (LONG i = low; i <= high; ++i) {
        out.push_back(read(v.parray, i));
    }
    return out;
}

}  // namespace

std::optional<std::vector<double>> R8ArrayOf(const VARIANT& v) {
    return ArrayOf<double>(v, VT_R8, [](SAFEARRAY* array, LONG i) {
        double value = 0;
        SafeArrayGetElement(array, &i, &value);
        return value;
    });
}

std::optional<std::vector<std::string>> TextArrayOf(const VARIANT& v) {
    return ArrayOf<std::string>(v, VT_BSTR, [](SAFEARRAY* array, LONG i) {
        BSTR text = nullptr;
        SafeArrayGetElement(array, &i, &text);
        std::string out = BstrToUtf8(text);
        SysFreeString(text);
        return out;
    });
}

// ---- Time ------------------------------------------------------------------------------------

std::uint64_t Ticks(FILETIME time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FileTimeOfTicks(std::uint64_t ticks) {
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return out;
}

double SimSeconds(FILETIME time) {
    static const std::uint64_t epoch = [] {
        SYSTEMTIME start;
        start.wYear = 2026;
        start.wMonth = 1;
        start.wDay = 1;
        FILETIME ft;
        SystemTimeToFileTime(&start, &ft);
        return Ticks(ft);
    }();
    const std::uint64_t ticks = Ticks(time);
    return ticks >= epoch ? static_cast<double>(ticks - epoch) / 1e7
                          : -static_cast<double>(epoch - ticks) / 1e7;
}

// ---- Calls -----------------------------------------------------------------------------------

IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown = Query<IUnknown>(object);
    return unknown.Get();
}

AddedGroup AddGroup(IOPCServer& server, const GroupParams& params) {
    AddedGroup out;
    const std::u16string name = W(params.name);
    LONG bias = params.timeBias.value_or(0);
    FLOAT deadband = params.deadband.value_or(0.0f);
    IUnknown* object = nullptr;
    out.hr = server.AddGroup(name.c_str(), params.active ? TRUE : FALSE, params.rate,
                             params.clientHandle, params.timeBias ? &bias : nullptr,
                             params.deadband ? &deadband : nullptr, params.lcid, &out.serverHandle,
                             &out.revisedRate, params.riid, &object);
    out.object = ComPtr<IUnknown>::Attach(object);
    if (FAILED(out.hr)) {
        EXPECT_EQ(object, nullptr) << "AddGroup failed but handed out an object";
    } else {
        EXPECT_NE(object, nullptr) << "AddGroup succeeded without an object";
    }
    return out;
}

GroupState GetState(IUnknown* group) {
    GroupState out;
    ComPtr<IOPCGroupStateMgt> state = Query<IOPCGroupStateMgt>(group);
    if (!state) {
        ADD_FAILURE() << "the group has no IOPCGroupStateMgt";
        return out;
    }
    LPWSTR name = nullptr;
    out.hr = state->GetState(&out.rate, &out.active, &name, &out.timeBias, &out.deadband, &out.lcid,
                             &out.clientHandle, &out.serverHandle);
    if (SUCCEEDED(out.hr)) {
        out.name = TakeTaskString(name, "the group name of GetState");
    } else {
        ExpectTaskMemoryAndFree(name, "the group name of a failed GetState", true);
    }
    return out;
}

namespace {

struct ItemDefs {
    std::vector<std::u16string> ids;
    std::vector<std::u16string> paths;
    std::vector<OPCITEMDEF> defs;
};

ItemDefs MakeDefs(const std::vector<ItemDef>& items) {
    ItemDefs out;
    out.ids.reserve(items.size());
    out.paths.reserve(items.size());
    for (const ItemDef& item : items) {
        out.ids.push_back(W(item.id));
        out.paths.emplace_back();
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        OPCITEMDEF def{};
        def.szAccessPath = out.paths[i].data();
        def.szItemID = out.ids[i].data();
        def.bActive = items[i].active ? TRUE : FALSE;
        def.hClient = items[i].client;
        def.vtRequestedDataType = items[i].requested;
        out.defs.push_back(def);
    }
    return out;
}

ItemOutcome TakeItemResults(HRESULT hr, OPCITEMRESULT* results, HRESULT* errors, DWORD count,
                            std::string_view what) {
    ItemOutcome out;
    out.hr = hr;
    if (FAILED(hr) || count == 0) {
        EXPECT_EQ(results, nullptr) << what << " failed but handed out a result array";
        EXPECT_EQ(errors, nullptr) << what << " failed but handed out an error array";
        ExpectTaskMemoryAndFree(results, what, true);
        ExpectTaskMemoryAndFree(errors, what, true);
        return out;
    }
    if (results == nullptr || errors == nullptr) {
        ADD_FAILURE() << what << " succeeded without its arrays";
        ExpectTaskMemoryAndFree(results, what, true);
        ExpectTaskMemoryAndFree(errors, what, true);
        return out;
    }
    bool anyFailed = false;
    for (DWORD i = 0; i < count; ++i) {
        ItemResult item;
        item.error = errors[i];
        anyFailed = anyFailed || errors[i] != S_OK;
        item.server = results[i].hServer;
        item.canonical = results[i].vtCanonicalDataType;
        item.rights = results[i].dwAccessRights;
        if (results[i].pBlob != nullptr) {
            ExpectTaskMemoryAndFree(results[i].pBlob, "an item blob");
        }
        if (errors[i] != S_OK) {
            EXPECT_EQ(results[i].pBlob, nullptr) << what << ": a failed item carries a blob";
        }
        out.items.push_back(item);
    }
    // The overall result tells whether every item passed.
    EXPECT_EQ(hr, anyFailed ? S_FALSE : S_OK) << what;
    ExpectTaskMemoryAndFree(results, std::string(what) + " results");
    ExpectTaskMemoryAndFree(errors, std::string(what) + " errors");
    return out;
}

}  // namespace

ItemOutcome AddItems(IUnknown* group, const std::vector<ItemDef>& defs) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    ItemDefs made = MakeDefs(defs);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(defs.size());
    const HRESULT hr = items->AddItems(count, made.defs.data(), &results, &errors);
    return TakeItemResults(hr, results, errors, count, "AddItems");
}

ItemOutcome ValidateItems(IUnknown* group, const std::vector<ItemDef>& defs) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    ItemDefs made = MakeDefs(defs);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(defs.size());
    const HRESULT hr = items->ValidateItems(count, made.defs.data(), FALSE, &results, &errors);
    return TakeItemResults(hr, results, errors, count, "ValidateItems");
}

ErrorsOutcome TakeErrors(HRESULT hr, HRESULT* errors, DWORD count, std::string_view what) {
    ErrorsOutcome out;
    out.hr = hr;
    if (FAILED(hr) || count == 0) {
        EXPECT_EQ(errors, nullptr) << what << " failed but handed out an error array";
        ExpectTaskMemoryAndFree(errors, what, true);
        return out;
    }
    if (errors == nullptr) {
        ADD_FAILURE() << what << " succeeded without its error array";
        return out;
    }
    bool anyFailed = false;
    for (DWORD i = 0; i < count; ++i) {
        out.errors.push_back(errors[i]);
        anyFailed = anyFailed || errors[i] != S_OK;
    }
    EXPECT_EQ(hr, anyFailed ? S_FALSE : S_OK) << what;
    ExpectTaskMemoryAndFree(errors, std::string(what) + " errors");
    return out;
}

ErrorsOutcome RemoveItems(IUnknown* group, std::vector<OPCHANDLE> handles) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = items->RemoveItems(count, handles.data(), &errors);
    return TakeErrors(hr, errors, count, "RemoveItems");
}

ErrorsOutcome SetActiveState(IUnknown* group, std::vector<OPCHANDLE> handles, bool active) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = items->SetActiveState(count, handles.data(), active ? TRUE : FALSE, &errors);
    return TakeErrors(hr, errors, count, "SetActiveState");
}

ErrorsOutcome SetClientHandles(IUnknown* group, std::vector<OPCHANDLE> handles,
                               std::vector<OPCHANDLE> clients) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = items->SetClientHandles(count, handles.data(), clients.data(), &errors);
    return TakeErrors(hr, errors, count, "SetClientHandles");
}

ErrorsOutcome SetDatatypes(IUnknown* group, std::vector<OPCHANDLE> handles,
                           std::vector<VARTYPE> types) {
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return {};
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = items->SetDatatypes(count, handles.data(), types.data(), &errors);
    return TakeErrors(hr, errors, count, "SetDatatypes");
}

ErrorsOutcome SyncWrite(IUnknown* group, std::vector<OPCHANDLE> handles,
                        const std::vector<Variant>& values) {
    ComPtr<IOPCSyncIO> io = Query<IOPCSyncIO>(group);
    if (!io) {
        ADD_FAILURE() << "the group has no IOPCSyncIO";
        return {};
    }
    std::vector<VARIANT> raw;
    for (const Variant& v : values) {
        raw.push_back(v.Get());  // a shallow view: the server must not keep or free it
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = io->Write(count, handles.data(), raw.data(), &errors);
    return TakeErrors(hr, errors, count, "IOPCSyncIO::Write");
}

ReadOutcome SyncRead(IUnknown* group, OPCDATASOURCE source, std::vector<OPCHANDLE> handles) {
    ReadOutcome out;
    ComPtr<IOPCSyncIO> io = Query<IOPCSyncIO>(group);
    if (!io) {
        ADD_FAILURE() << "the group has no IOPCSyncIO";
        return out;
    }
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    out.hr = io->Read(source, count, handles.data(), &states, &errors);
    if (FAILED(out.hr) || count == 0) {
        EXPECT_EQ(states, nullptr) << "a failed Read handed out a state array";
        EXPECT_EQ(errors, nullptr) << "a failed Read handed out an error array";
        ExpectTaskMemoryAndFree(states, "Read states", true);
        ExpectTaskMemoryAndFree(errors, "Read errors", true);
        return out;
    }
    if (states == nullptr || errors == nullptr) {
        ADD_FAILURE() << "Read succeeded without its arrays";
        ExpectTaskMemoryAndFree(states, "Read states", true);
        ExpectTaskMemoryAndFree(errors, "Read errors", true);
        return out;
    }
    bool anyFailed = false;
    for (DWORD i = 0; i < count; ++i) {
        ItemState item;
        item.error = errors[i];
        anyFailed = anyFailed || errors[i] != S_OK;
        item.client = states[i].hClient;
        item.time = states[i].ftTimeStamp;
        item.quality = states[i].wQuality;
        if (SUCCEEDED(errors[i])) {
            item.value = Variant(states[i].vDataValue);
            VariantClear(&states[i].vDataValue);
        } else {
            // The caller clears every value it gets; a failed entry must hold nothing.
            EXPECT_EQ(states[i].vDataValue.vt, VT_EMPTY) << "a failed read entry holds a value";
        }
        out.items.push_back(std::move(item));
    }
    EXPECT_EQ(out.hr, anyFailed ? S_FALSE : S_OK) << "IOPCSyncIO::Read";
    ExpectTaskMemoryAndFree(states, "Read states");
    ExpectTaskMemoryAndFree(errors, "Read errors");
    return out;
}

ItemState ReadOne(IUnknown* group, OPCHANDLE handle) {
    ReadOutcome read = SyncRead(group, OPC_DS_DEVICE, {handle});
    EXPECT_EQ(read.hr, S_OK);
    if (read.items.size() != 1) {
        ADD_FAILURE() << "Read gave no entry";
        return {};
    }
    EXPECT_EQ(read.items[0].error, S_OK);
    return std::move(read.items[0]);
}

std::vector<ItemAttributes> TakeAttributes(OPCITEMATTRIBUTES* array, ULONG count) {
    std::vector<ItemAttributes> out;
    if (array == nullptr) {
        return out;
    }
    for (ULONG i = 0; i < count; ++i) {
        OPCITEMATTRIBUTES& a = array[i];
        ItemAttributes item;
        item.accessPath = U8(a.szAccessPath);
        item.id = U8(a.szItemID);
        item.active = a.bActive;
        item.client = a.hClient;
        item.server = a.hServer;
        item.rights = a.dwAccessRights;
        item.requested = a.vtRequestedDataType;
        item.canonical = a.vtCanonicalDataType;
        item.euType = a.dwEUType;
        if (a.dwEUType == OPC_ANALOG) {
            item.euRange = R8ArrayOf(a.vEUInfo).value_or(std::vector<double>{});
            EXPECT_EQ(item.euRange.size(), 2u) << item.id << ": an analog item without its range";
        }
        // The access path may be given as an empty string or as null.
        ExpectTaskMemoryAndFree(a.szAccessPath, "an item's access path", true);
        ExpectTaskMemoryAndFree(a.szItemID, "an item's id");
        ExpectTaskMemoryAndFree(a.pBlob, "an item's blob", true);
        VariantClear(&a.vEUInfo);
        out.push_back(std::move(item));
    }
    ExpectTaskMemoryAndFree(array, "the item attribute array");
    return out;
}

ItemList ListItems(IUnknown* group) {
    ItemList out;
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(group);
    if (!items) {
        ADD_FAILURE() << "the group has no IOPCItemMgt";
        return out;
    }
    IUnknown* raw = nullptr;
    out.hr = items->CreateEnumerator(IID_IEnumOPCItemAttributes, &raw);
    ComPtr<IUnknown> unknown = ComPtr<IUnknown>::Attach(raw);
    if (out.hr != S_OK) {
        EXPECT_EQ(raw, nullptr) << "CreateEnumerator answered " << out.hr << " with an object";
        return out;
    }
    ComPtr<IEnumOPCItemAttributes> e = Query<IEnumOPCItemAttributes>(unknown);
    if (!e) {
        ADD_FAILURE() << "CreateEnumerator did not give an IEnumOPCItemAttributes";
        return out;
    }
    for (;;) {
        OPCITEMATTRIBUTES* array = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = e->Next(7, &array, &fetched);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << "Next answered " << hr;
        EXPECT_LE(fetched, 7u);
        if (hr == S_OK) {
            EXPECT_EQ(fetched, 7u) << "Next answered S_OK without a full chunk";
        }
        for (ItemAttributes& item : TakeAttributes(array, fetched)) {
            out.items.push_back(std::move(item));
        }
        if (fetched == 0 && array != nullptr) {
            ExpectTaskMemoryAndFree(array, "an empty attribute array");
        }
        if (hr != S_OK) {
            break;
        }
    }
    return out;
}

std::vector<std::string> DrainStrings(IEnumString* strings, ULONG chunk) {
    std::vector<std::string> out;
    if (strings == nullptr) {
        ADD_FAILURE() << "no enumerator";
        return out;
    }
    std::vector<LPOLESTR> buffer(chunk, nullptr);
    for (;;) {
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(chunk, buffer.data(), &fetched);
        if (hr != S_OK && hr != S_FALSE) {
            ADD_FAILURE() << "IEnumString::Next answered " << hr;
            break;
        }
        EXPECT_LE(fetched, chunk);
        EXPECT_EQ(hr == S_OK, fetched == chunk)
            << "Next must answer S_OK exactly when it fills the chunk";
        for (ULONG i = 0; i < fetched && i < chunk; ++i) {
            out.push_back(TakeTaskString(buffer[i], "an enumerated string"));
        }
        if (hr != S_OK) {
            break;
        }
    }
    return out;
}

}  // namespace conformance
