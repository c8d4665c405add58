#pragma once
// What the conformance tests need of an OPC DA client: text conversion, owned values, the
// checks of the memory rule (everything a server hands out is a task-allocator block that the
// client frees), and thin wrappers over the calls the tests make most, which copy the server's
// answers into plain vectors and free what the server allocated.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/enum.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opcda/opcda.h"

namespace conformance {

// ---- Text ------------------------------------------------------------------------------------

std::u16string W(std::string_view utf8);
// A wide string as UTF-8; "" for null.
std::string U8(const OLECHAR* wide);

// ---- The memory rule -------------------------------------------------------------------------

// Whether p is a live block of the task allocator (null is not).
bool IsTaskMemory(const void* p);

// Checks (as a test expectation naming what) that p is a task-allocator block and frees it;
// null passes when allowNull is set.
void ExpectTaskMemoryAndFree(void* p, std::string_view what, bool allowNull = false);

// Takes a task-allocator string over: its text, after checking and freeing it.
std::string TakeTaskString(LPWSTR text, std::string_view what);

// ---- Values ----------------------------------------------------------------------------------

// A VARIANT that owns what it holds.
class Variant {
  public:
    Variant() { VariantInit(&v_); }
    explicit Variant(const VARIANT& source);
    Variant(const Variant& other) : Variant(other.v_) {}
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant other) noexcept;
    ~Variant() { VariantClear(&v_); }

    static Variant I1(std::int8_t v);
    static Variant UI1(std::uint8_t v);
    static Variant I2(std::int16_t v);
    static Variant UI2(std::uint16_t v);
    static Variant I4(std::int32_t v);
    static Variant UI4(std::uint32_t v);
    static Variant R4(float v);
    static Variant R8(double v);
    static Variant Bool(bool v);
    static Variant Text(std::string_view utf8);
    static Variant Currency(std::int64_t scaled);
    static Variant Date(double date);
    static Variant R8Array(const std::vector<double>& values);
    static Variant TextArray(const std::vector<std::string>& values);

    VARIANT& Get() { return v_; }
    const VARIANT& Get() const { return v_; }
    const VARIANT* operator->() const { return &v_; }
    VARTYPE Type() const { return v_.vt; }

  private:
    VARIANT v_;
};

// The value as a double (numeric and boolean scalars); nullopt for anything else.
std::optional<double> NumberOf(const VARIANT& v);
// The text of a VT_BSTR value; nullopt for another type.
std::optional<std::string> TextOf(const VARIANT& v);
// The elements of a one-dimensional VT_ARRAY|VT_R8 or VT_ARRAY|VT_BSTR value.
std::optional<std::vector<double>> R8ArrayOf(const VARIANT& v);
std::optional<std::vector<std::string>> TextArrayOf(const VARIANT& v);

// ---- Time ------------------------------------------------------------------------------------

std::uint64_t Ticks(FILETIME time);
// Seconds since 2026-01-01 00:00:00 UTC, the server's simulated time 0.
double SimSeconds(FILETIME time);
FILETIME FileTimeOfTicks(std::uint64_t ticks);
inline constexpr std::uint64_t kTicksPerMs = 10000;

// ---- Calls -----------------------------------------------------------------------------------

template <class I>
ComPtr<I> Query(IUnknown* object) {
    ComPtr<I> out;
    if (object != nullptr) {
        object->QueryInterface(IidOf<I>(), out.PutVoid());
    }
    return out;
}
template <class I, class J>
ComPtr<I> Query(const ComPtr<J>& object) {
    return Query<I>(static_cast<IUnknown*>(object.Get()));
}

// The identity of an object: its IUnknown pointer (without a reference kept).
IUnknown* Identity(IUnknown* object);

struct GroupParams {
    std::string name{};
    bool active = true;
    DWORD rate = 1000;
    OPCHANDLE clientHandle = 0xC0DE;
    std::optional<LONG> timeBias{};
    std::optional<FLOAT> deadband{};
    LCID lcid = 0x409;
    IID riid = IID_IUnknown;
};

struct AddedGroup {
    HRESULT hr = E_FAIL;
    ComPtr<IUnknown> object;  // as riid
    OPCHANDLE serverHandle = 0;
    DWORD revisedRate = 0;
};
AddedGroup AddGroup(IOPCServer& server, const GroupParams& params);

struct GroupState {
    HRESULT hr = E_FAIL;
    DWORD rate = 0;
    BOOL active = FALSE;
    std::string name;
    LONG timeBias = 0;
    FLOAT deadband = 0;
    LCID lcid = 0;
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
};
GroupState GetState(IUnknown* group);

struct ItemDef {
    std::string id{};
    OPCHANDLE client = 0;
    VARTYPE requested = VT_EMPTY;
    bool active = true;
};

struct ItemResult {
    HRESULT error = E_FAIL;
    OPCHANDLE server = 0;
    VARTYPE canonical = VT_EMPTY;
    DWORD rights = 0;
};

struct ItemOutcome {
    HRESULT hr = E_FAIL;
    std::vector<ItemResult> items;  // empty when the call failed
};
ItemOutcome AddItems(IUnknown* group, const std::vector<ItemDef>& defs);
ItemOutcome ValidateItems(IUnknown* group, const std::vector<ItemDef>& defs);

// The result of a call that answers with one error per item.
struct ErrorsOutcome {
    HRESULT hr = E_FAIL;
    std::vector<HRESULT> errors;  // empty when the call failed
};
// Takes over an error array of count entries handed out by a call that returned hr: checks the
// memory rule (an array on success, null on failure), copies and frees it.
ErrorsOutcome TakeErrors(HRESULT hr, HRESULT* errors, DWORD count, std::string_view what);

ErrorsOutcome RemoveItems(IUnknown* group, std::vector<OPCHANDLE> handles);
ErrorsOutcome SetActiveState(IUnknown* group, std::vector<OPCHANDLE> handles, bool active);
ErrorsOutcome SetClientHandles(IUnknown* group, std::vector<OPCHANDLE> handles,
                               std::vector<OPCHANDLE> clients);
ErrorsOutcome SetDatatypes(IUnknown* group, std::vector<OPCHANDLE> handles,
                           std::vector<VARTYPE> types);
ErrorsOutcome SyncWrite(IUnknown* group, std::vector<OPCHANDLE> handles,
                        const std::vector<Variant>& values);

struct ItemState {
    HRESULT error = E_FAIL;
    OPCHANDLE client = 0;
    FILETIME time{};
    WORD quality = 0;
    Variant value;
};
struct ReadOutcome {
    HRESULT hr = E_FAIL;
    std::vector<ItemState> items;
};
ReadOutcome SyncRead(IUnknown* group, OPCDATASOURCE source, std::vector<OPCHANDLE> handles);

// One value read from the device; the test fails when the read does.
ItemState ReadOne(IUnknown* group, OPCHANDLE handle);

struct ItemAttributes {
    std::string accessPath;
    std::string id;
    BOOL active = FALSE;
    OPCHANDLE client = 0;
    OPCHANDLE server = 0;
    DWORD rights = 0;
    VARTYPE requested = VT_EMPTY;
    VARTYPE canonical = VT_EMPTY;
    OPCEUTYPE euType = OPC_NOENUM;
    // For an analog item: its low and high engineering-unit limits.
    std::vector<double> euRange;
};
// Copies and frees one Next answer of an item enumerator.
std::vector<ItemAttributes> TakeAttributes(OPCITEMATTRIBUTES* array, ULONG count);
// Every item of a group through a new item enumerator; hr is CreateEnumerator's answer.
struct ItemList {
    HRESULT hr = E_FAIL;
    std::vector<ItemAttributes> items;
};
ItemList ListItems(IUnknown* group);

// Every string an enumerator has left, fetched chunk strings at a time; fails the test when Next
// does not keep its rules (S_OK for a full chunk, S_FALSE for the last one).
std::vector<std::string> DrainStrings(IEnumString* strings, ULONG chunk = 1);

}  // namespace conformance
