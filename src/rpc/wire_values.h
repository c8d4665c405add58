#pragma once
// How the plain values of the COM interfaces are written to and read from a message: GUIDs,
// FILETIMEs, wide strings and VARIANTs. Readers never trust what a message claims: every
// length comes from the data actually present, and a value that cannot be represented gives a
// failure code instead of a guess.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/variant.h"
#include "rpc/opcda.capnp.h"

namespace tgv::rpc {

using WideList = capnp::List<std::uint16_t, capnp::Kind::PRIMITIVE>;

void PutGuid(wire::Guid::Builder out, const GUID& guid);
GUID GetGuid(wire::Guid::Reader in);

inline std::uint64_t FileTimeToWire(FILETIME t) {
    return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}
inline FILETIME FileTimeFromWire(std::uint64_t v) {
    return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

// Writes a null-terminated wide string through init (a field's initX(size) of the message);
// a null string leaves the field unset.
template <class Init>
void PutWide(const OLECHAR* text, Init&& init) {
    if (text == nullptr) {
        return;
    }
    const std::size_t length = std::char_traits<char16_t>::length(text);
    auto list = init(static_cast<unsigned>(length));
    for (std::size_t i = 0; i < length; ++i) {
        list.set(static_cast<unsigned>(i), static_cast<std::uint16_t>(text[i]));
    }
}

// An [in] string as the callee sees it: a copy, and whether it was null.
class WideArg {
  public:
    WideArg() = default;
    WideArg(bool present, WideList::Reader chars);
    // Null when the caller passed null. The text ends at its first zero, as a C string does.
    LPWSTR Get() { return present_ ? text_.data() : nullptr; }

  private:
    bool present_ = false;
    std::u16string text_;
};

// A task-allocator copy of a wide string from a message, with a terminating zero; null when
// the field is unset. Sets *hr to E_OUTOFMEMORY when the block cannot be had.
LPWSTR TaskWide(bool present, WideList::Reader chars, HRESULT* hr);

// Writes a VARIANT. Types that cannot cross (by-reference values, interface pointers,
// decimals, arrays of other element types) give DISP_E_BADVARTYPE and leave the builder
// holding an empty value.
HRESULT EncodeVariant(const VARIANT& value, wire::Variant::Builder out);

// Reads a VARIANT into *out, which the caller has initialised; on failure *out stays VT_EMPTY
// and nothing is leaked. RPC_E_INVALID_DATA for a value that does not hold together (bounds
// that do not match the elements, elements of the wrong kind, nesting too deep),
// DISP_E_BADVARTYPE for an element type no array may have, E_OUTOFMEMORY when it cannot be
// allocated.
HRESULT DecodeVariant(wire::Variant::Reader in, VARIANT* out);

// VARIANTs owned together: cleared when the holder goes.
class VariantArray {
  public:
    VariantArray() = default;
    explicit VariantArray(std::size_t count);
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;
    VariantArray(VariantArray&& other) noexcept = default;
    VariantArray& operator=(VariantArray&& other) noexcept;
    ~VariantArray();

    VARIANT* Data() { return values_.empty() ? nullptr : values_.data(); }
    std::size_t Size() const { return values_.size(); }
    VARIANT& operator[](std::size_t i) { return values_[i]; }

  private:
    void Clear();
    std::vector<VARIANT> values_;
};

// Reads a list of VARIANTs; RPC_E_INVALID_DATA (or the first element's failure) when any fails.
HRESULT DecodeVariants(capnp::List<wire::Variant>::Reader in, VariantArray* out);

}  // namespace tgv::rpc
