#include "sim/owned_variant.h"

#include <cmath>
#include <cstring>

namespace {

bool IsConvertibleScalar(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BOOL:
        case VT_BSTR:
            return true;
        default:
            return false;
    }
}

bool SameArray(SAFEARRAY* a, SAFEARRAY* b) {
    if (a == b) {
        return true;
    }
    if (a == nullptr || b == nullptr || a->cDims != b->cDims || a->cbElements != b->cbElements) {
        return false;
    }
    VARTYPE ta = VT_EMPTY;
    VARTYPE tb = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(a, &ta)) || FAILED(SafeArrayGetVartype(b, &tb)) || ta != tb) {
        return false;
    }
    std::size_t count = 1;
    for (USHORT d = 0; d < a->cDims; ++d) {
        if (a->rgsabound[d].cElements != b->rgsabound[d].cElements ||
            a->rgsabound[d].lLbound != b->rgsabound[d].lLbound) {
            return false;
        }
        count *= a->rgsabound[d].cElements;
    }
    if (ta == VT_BSTR) {
        auto* const sa = static_cast<BSTR*>(a->pvData);
        auto* const sb = static_cast<BSTR*>(b->pvData);
        for (std::size_t i = 0; i < count; ++i) {
            if (BstrView(sa[i]) != BstrView(sb[i])) {
                return false;
            }
        }
        return true;
    }
    if (ta == VT_VARIANT) {
        auto* const va = static_cast<VARIANT*>(a->pvData);
        auto* const vb = static_cast<VARIANT*>(b->pvData);
        for (std::size_t i = 0; i < count; ++i) {
            if (!SameValue(va[i], vb[i])) {
                return false;
            }
        }
        return true;
    }
    if (ta == VT_R8 || ta == VT_R4) {
        // Compare as numbers, so that 0.0 and -0.0 are one value.
        for (std::size_t i = 0; i < count; ++i) {
            const double x = ta == VT_R8 ? static_cast<double*>(a->pvData)[i]
                                         : static_cast<float*>(a->pvData)[i];
            const double y = ta == VT_R8 ? static_cast<double*>(b->pvData)[i]
                                         : static_cast<float*>(b->pvData)[i];
            if (!(x == y)) {
                return false;
            }
        }
        return true;
    }
    return count == 0 || std::memcmp(a->pvData, b->pvData, count * a->cbElements) == 0;
}

// Currency and dates go through a double where the value layer does not convert them itself.
HRESULT ToDouble(const VARIANT& source, double* out) {
    switch (source.vt) {
        case VT_CY:
            *out = static_cast<double>(source.cyVal.int64) / 10000.0;
            return S_OK;
        case VT_DATE:
            *out = source.date;
            return S_OK;
        default: {
            VARIANT r8;
            VariantInit(&r8);
            const HRESULT hr = VariantChangeType(&r8, &source, 0, VT_R8);
            if (FAILED(hr)) {
                return hr;
            }
            *out = r8.dblVal;
            return S_OK;
        }
    }
}

HRESULT FromDouble(double value, VARTYPE requested, VARIANT* dest) {
    if (std::isnan(value)) {
        return DISP_E_OVERFLOW;
    }
    if (requested == VT_CY) {
        const double scaled = std::round(value * 10000.0);
        if (!(scaled >= -9.2233720368547758e18 && scaled < 9.2233720368547758e18)) {
            return DISP_E_OVERFLOW;
        }
        dest->vt = VT_CY;
        dest->cyVal.int64 = static_cast<LONGLONG>(scaled);
        return S_OK;
    }
    if (requested == VT_DATE) {
        // The calendar range of OLE dates: 0100-01-01 to 9999-12-31.
        if (value < -657434.0 || value >= 2958466.0) {
            return DISP_E_OVERFLOW;
        }
        dest->vt = VT_DATE;
        dest->date = value;
        return S_OK;
    }
    VARIANT r8;
    VariantInit(&r8);
    r8.vt = VT_R8;
    r8.dblVal = value;
    return VariantChangeType(dest, &r8, 0, requested);
}

}  // namespace

OwnedVariant::OwnedVariant(const VARIANT& source) {
    VariantInit(&v_);
    if (FAILED(CopyInto(&v_, source))) {
        VariantInit(&v_);
    }
}

OwnedVariant& OwnedVariant::operator=(const OwnedVariant& other) {
    if (this != &other) {
        OwnedVariant copy(other);
        std::swap(v_, copy.v_);
    }
    return *this;
}

HRESULT OwnedVariant::AssignSlow(const VARIANT& source) {
    if (&source == &v_) {
        return S_OK;
    }
    VariantClear(&v_);
    const HRESULT hr = CopyInto(&v_, source);
    if (FAILED(hr)) {
        VariantInit(&v_);
    }
    return hr;
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) {
        return false;
    }
    if ((a.vt & VT_ARRAY) != 0) {
        return SameArray(a.parray, b.parray);
    }
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_I1:
            return a.cVal == b.cVal;
        case VT_UI1:
            return a.bVal == b.bVal;
        case VT_I2:
            return a.iVal == b.iVal;
        case VT_UI2:
            return a.uiVal == b.uiVal;
        case VT_I4:
            return a.lVal == b.lVal;
        case VT_UI4:
            return a.ulVal == b.ulVal;
        case VT_INT:
            return a.intVal == b.intVal;
        case VT_UINT:
            return a.uintVal == b.uintVal;
        case VT_I8:
            return a.llVal == b.llVal;
        case VT_UI8:
            return a.ullVal == b.ullVal;
        case VT_R4:
            return a.fltVal == b.fltVal;
        case VT_R8:
            return a.dblVal == b.dblVal;
        case VT_CY:
            return a.cyVal.int64 == b.cyVal.int64;
        case VT_DATE:
            return a.date == b.date;
        case VT_BOOL:
            return (a.boolVal != 0) == (b.boolVal != 0);
        case VT_ERROR:
            return a.scode == b.scode;
        case VT_BSTR:
            return BstrView(a.bstrVal) == BstrView(b.bstrVal);
        default:
            return false;
    }
}

HRESULT CopyInto(VARIANT* dest, const VARIANT& source) {
    if (IsPlainScalar(source.vt)) {
        *dest = source;
        return S_OK;
    }
    VariantInit(dest);
    return VariantCopy(dest, &source);
}

bool IsConvertibleType(VARTYPE canonical, VARTYPE requested) {
    if (requested == VT_EMPTY || requested == canonical) {
        return true;
    }
    return IsConvertibleScalar(canonical) && IsConvertibleScalar(requested);
}

HRESULT ConvertInto(VARIANT* dest, const VARIANT& source, VARTYPE requested) {
    VariantInit(dest);
    if (requested == VT_EMPTY || requested == source.vt) {
        const HRESULT hr = CopyInto(dest, source);
        if (FAILED(hr)) {
            VariantInit(dest);
        }
        return hr;
    }
    if (!IsConvertibleType(source.vt, requested)) {
        return DISP_E_TYPEMISMATCH;
    }
    HRESULT hr = S_OK;
    if (source.vt == VT_CY || source.vt == VT_DATE || requested == VT_CY || requested == VT_DATE) {
        hr = VariantChangeType(dest, &source, 0, requested);
        if (hr == DISP_E_BADVARTYPE || hr == DISP_E_TYPEMISMATCH) {
            double number = 0.0;
            hr = ToDouble(source, &number);
            if (SUCCEEDED(hr)) {
                hr = FromDouble(number, requested, dest);
            }
        }
    } else {
        hr = VariantChangeType(dest, &source, 0, requested);
    }
    if (FAILED(hr)) {
        VariantInit(dest);
    }
    return hr;
}
