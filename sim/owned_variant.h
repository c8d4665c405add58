#pragma once
// A VARIANT that owns what it holds, and the value operations the simulator needs on the
// per-item path: equality, copying without needless allocation, conversion to a requested type.

#include <utility>

#include "com/variant.h"

// Whether a value of this type owns nothing (no string, array or interface to free).
constexpr bool IsPlainScalar(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BOOL:
        case VT_ERROR:
            return true;
        default:
            return false;
    }
}

// VariantClear for the per-item path: plain scalars need no call into the value layer.
inline void ClearValue(VARIANT& v) {
    if (IsPlainScalar(v.vt)) {
        v.vt = VT_EMPTY;
    } else {
        VariantClear(&v);
    }
}

class OwnedVariant {
  public:
    OwnedVariant() { VariantInit(&v_); }
    explicit OwnedVariant(const VARIANT& source);
    OwnedVariant(const OwnedVariant& other) : OwnedVariant(other.v_) {}
    OwnedVariant(OwnedVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    OwnedVariant& operator=(const OwnedVariant& other);
    OwnedVariant& operator=(OwnedVariant&& other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    ~OwnedVariant() { VariantClear(&v_); }

    const VARIANT& Get() const { return v_; }
    VARIANT& Get() { return v_; }
    VARIANT* Ptr() { return &v_; }
    VARTYPE Type() const { return v_.vt; }
    void Clear() { VariantClear(&v_); }
    // Replaces the value with a copy of source; plain scalars are copied without freeing or
    // allocating anything.
    HRESULT Assign(const VARIANT& source) {
        if (IsPlainScalar(v_.vt) && IsPlainScalar(source.vt)) {
            // Field by field: a whole-structure copy of a value just written field by field
            // stalls the processor.
            v_.vt = source.vt;
            v_.llVal = source.llVal;
            return S_OK;
        }
        return AssignSlow(source);
    }

  private:
    HRESULT AssignSlow(const VARIANT& source);

    VARIANT v_;
};

// True when both hold the same type and the same value (strings and arrays by content).
bool SameValue(const VARIANT& a, const VARIANT& b);
// The same, with the common case of two doubles decided inline.
inline bool SameValueFast(const VARIANT& a, const VARIANT& b) {
    if (a.vt == VT_R8 && b.vt == VT_R8) {
        return a.dblVal == b.dblVal;
    }
    return SameValue(a, b);
}

// Makes dest a deep copy of source; dest must hold nothing that needs freeing (VT_EMPTY or a
// plain scalar). Scalars other than strings are copied without a call into the value layer.
HRESULT CopyInto(VARIANT* dest, const VARIANT& source);

// Whether a value of the canonical type can in general be given as the requested type
// (VT_EMPTY asks for the canonical type). Arrays convert only to themselves.
bool IsConvertibleType(VARTYPE canonical, VARTYPE requested);

// Converts source to the requested type into dest (which must hold nothing that needs
// freeing); VT_EMPTY or the source's own type copy. On failure dest is VT_EMPTY and the
// conversion's error is returned.
HRESULT ConvertInto(VARIANT* dest, const VARIANT& source, VARTYPE requested);
