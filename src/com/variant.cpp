#include "com/variant.h"

#include "com/variant_detail.h"

namespace {

constexpr VARTYPE kVectorFlag = 0x1000;
constexpr VARTYPE kReservedFlag = 0x8000;
constexpr VARTYPE kRecord = 36;
constexpr VARTYPE kClsid = 72;
constexpr VARTYPE kFirstInvalid = 24;  // VT_VOID and above are not VARIANT types
constexpr VARTYPE kUnused = 15;

bool IsByRef(VARTYPE vt) {
    return (vt & VT_BYREF) != 0;
}
bool IsArray(VARTYPE vt) {
    return (vt & VT_ARRAY) != 0;
}

// This platform's VARIANT carries no interface or record pointers, so a value of those types
// cannot be released or copied; such variants are refused rather than leaked.
bool HoldsUnsupportedReference(VARTYPE vt) {
    if (IsByRef(vt) || IsArray(vt)) {
        return false;
    }
    return vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == kRecord;
}

}  // namespace

HRESULT com_detail::ValidateVartype(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    const VARTYPE extra = vt & static_cast<VARTYPE>(~VT_TYPEMASK);
    if ((extra & (kVectorFlag | kReservedFlag)) != 0) {
        return DISP_E_BADVARTYPE;
    }
    if (base >= kFirstInvalid && base != kRecord && base != kClsid) {
        return DISP_E_BADVARTYPE;
    }
    if ((extra & (VT_BYREF | VT_ARRAY)) != 0 && base <= VT_NULL) {
        return DISP_E_BADVARTYPE;
    }
    return base == kUnused ? DISP_E_BADVARTYPE : S_OK;
}

void VariantInit(VARIANT* pvarg) {
    if (pvarg != nullptr) {
        *pvarg = VARIANT{};
    }
}

HRESULT VariantClear(VARIANT* pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE vt = pvarg->vt;
    if (FAILED(com_detail::ValidateVartype(vt)) || HoldsUnsupportedReference(vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (!IsByRef(vt)) {
        if (IsArray(vt)) {
            // A locked array stays with its variant, so nothing is lost.
            const HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) {
                return hr;
            }
        } else if (vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        }
    }
    *pvarg = VARIANT{};
    return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE vt = pvargSrc->vt;
    if (FAILED(com_detail::ValidateVartype(vt)) || HoldsUnsupportedReference(vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    // The copy is made first, so that a failure leaves the destination as it was.
    VARIANT copy = *pvargSrc;
    if (!IsByRef(vt)) {
        if (IsArray(vt)) {
            const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr)) {
                return hr;
            }
        } else if (vt == VT_BSTR && pvargSrc->bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
            if (copy.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
    }
    const HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        // The copy owns fresh memory only, so clearing it cannot fail.
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}
