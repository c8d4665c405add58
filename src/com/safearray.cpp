#include "com/safearray.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "com/bstr.h"
#include "com/hresult.h"
#include "com/variant.h"

namespace {

// The element type lives in a prefix just before the descriptor, where callers that only
// know the SAFEARRAY layout never look; the prefix keeps the descriptor pointer-aligned.
constexpr std::size_t kPrefixBytes = alignof(std::max_align_t);
constexpr std::size_t kVartypeOffset = kPrefixBytes - sizeof(DWORD);

// The most data one array may hold; larger requests are refused rather than attempted.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<LONG>::max();

// A lock count above this is taken as a caller that never unlocks.
constexpr ULONG kMaxLocks = 0xFFFF;

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_ERROR:
        case VT_INT:
        case VT_UINT:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

char* BlockOf(SAFEARRAY* psa) {
    return reinterpret_cast<char*>(psa) - kPrefixBytes;
}

std::size_t DescriptorBytes(UINT cDims) {
    return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
}

std::uint64_t CellCount(const SAFEARRAY* psa) {
    std::uint64_t cells = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        cells *= psa->rgsabound[i].cElements;
    }
    return cells;
}

std::atomic_ref<ULONG> LockCount(SAFEARRAY* psa) {
    return std::atomic_ref<ULONG>(psa->cLocks);
}

void FreeElements(SAFEARRAY* psa) {
    const std::uint64_t cells = CellCount(psa);
    if ((psa->fFeatures & FADF_BSTR) != 0) {
        auto* items = static_cast<BSTR*>(psa->pvData);
        for (std::uint64_t i = 0; i < cells; ++i) {
            SysFreeString(items[i]);
        }
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        auto* items = static_cast<VARIANT*>(psa->pvData);
        for (std::uint64_t i = 0; i < cells; ++i) {
            VariantClear(&items[i]);
        }
    }
}

void FreeArray(SAFEARRAY* psa) {
    std::free(psa->pvData);
    std::free(BlockOf(psa));
}

// Allocates a descriptor and zeroed data (null BSTRs, VT_EMPTY variants). The bounds are in
// storage order (rightmost dimension first) unless reverse is set.
SAFEARRAY* Allocate(VARTYPE vt, USHORT features, UINT cDims, const SAFEARRAYBOUND* bounds,
                    bool reverse) {
    const ULONG size = ElementSize(vt);
    if (size == 0 || cDims == 0 || cDims > std::numeric_limits<USHORT>::max()) {
        return nullptr;
    }
    std::uint64_t bytes = size;
    for (UINT i = 0; i < cDims; ++i) {
        const SAFEARRAYBOUND& bound = bounds[i];
        // The upper bound must be representable as a LONG.
        if (bound.cElements > 0 && static_cast<std::int64_t>(bound.lLbound) + bound.cElements - 1 >
                                       std::numeric_limits<LONG>::max()) {
            return nullptr;
        }
        bytes *= bound.cElements;
        if (bytes > kMaxDataBytes) {
            return nullptr;
        }
    }
    auto* block = static_cast<char*>(std::calloc(1, kPrefixBytes + DescriptorBytes(cDims)));
    if (block == nullptr) {
        return nullptr;
    }
    // Never zero bytes, so that an empty array still has a valid data pointer.
    void* data = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (data == nullptr) {
        std::free(block);
        return nullptr;
    }
    const DWORD storedVt = vt;
    std::memcpy(block + kVartypeOffset, &storedVt, sizeof(storedVt));
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefixBytes);
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = features;
    psa->cbElements = size;
    psa->cLocks = 0;
    psa->pvData = data;
    for (UINT i = 0; i < cDims; ++i) {
        psa->rgsabound[i] = bounds[reverse ? cDims - 1 - i : i];
    }
    return psa;
}

USHORT FeaturesFor(VARTYPE vt) {
    USHORT features = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) {
        features |= FADF_BSTR;
    } else if (vt == VT_VARIANT) {
        features |= FADF_VARIANT;
    }
    return features;
}

// Address of the element at rgIndices (one index per dimension, leftmost first; the leftmost
// dimension varies fastest), or null when an index is out of its bounds.
void* ElementAt(SAFEARRAY* psa, const LONG* rgIndices) {
    std::uint64_t cell = 0;
    std::uint64_t stride = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - i];
        const std::int64_t offset = static_cast<std::int64_t>(rgIndices[i]) - bound.lLbound;
        if (offset < 0 || offset >= static_cast<std::int64_t>(bound.cElements)) {
            return nullptr;
        }
        cell += static_cast<std::uint64_t>(offset) * stride;
        stride *= bound.cElements;
    }
    return static_cast<char*>(psa->pvData) + cell * psa->cbElements;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
    if (rgsabound == nullptr || cDims == 0 || cDims > std::numeric_limits<USHORT>::max()) {
        return nullptr;
    }
    // Callers give the bounds leftmost dimension first; the descriptor keeps them reversed.
    return Allocate(vt, FeaturesFor(vt), cDims, rgsabound, true);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    const SAFEARRAYBOUND bound{cElements, lLbound};
    return Allocate(vt, FeaturesFor(vt), 1, &bound, false);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (LockCount(psa).load() != 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    FreeElements(psa);
    FreeArray(psa);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    VARTYPE vt = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(psa, &vt))) {
        return E_INVALIDARG;
    }
    SAFEARRAY* copy = Allocate(vt, psa->fFeatures, psa->cDims, psa->rgsabound, false);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    const std::uint64_t cells = CellCount(psa);
    if ((psa->fFeatures & FADF_BSTR) != 0) {
        const auto* from = static_cast<const BSTR*>(psa->pvData);
        auto* to = static_cast<BSTR*>(copy->pvData);
        for (std::uint64_t i = 0; i < cells; ++i) {
            if (from[i] == nullptr) {
                continue;
            }
            to[i] = SysAllocStringLen(from[i], SysStringLen(from[i]));
            if (to[i] == nullptr) {
                SafeArrayDestroy(copy);
                return E_OUTOFMEMORY;
            }
        }
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        const auto* from = static_cast<const VARIANT*>(psa->pvData);
        auto* to = static_cast<VARIANT*>(copy->pvData);
        for (std::uint64_t i = 0; i < cells; ++i) {
            const HRESULT hr = VariantCopy(&to[i], &from[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        }
    } else {
        std::memcpy(copy->pvData, psa->pvData, cells * psa->cbElements);
    }
    *ppsaOut = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
    return psa == nullptr ? 0 : psa->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    if ((psa->fFeatures & FADF_HAVEVARTYPE) != 0) {
        DWORD stored = 0;
        std::memcpy(&stored, BlockOf(psa) + kVartypeOffset, sizeof(stored));
        *pvt = static_cast<VARTYPE>(stored);
    } else if ((psa->fFeatures & FADF_BSTR) != 0) {
        *pvt = VT_BSTR;
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        *pvt = VT_VARIANT;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (psa == nullptr || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (psa == nullptr || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    // An empty dimension has an upper bound one below its lower bound (wrapping as a LONG).
    *plUbound = static_cast<LONG>(static_cast<std::int64_t>(bound.lLbound) + bound.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    auto locks = LockCount(psa);
    if (locks.fetch_add(1) + 1 > kMaxLocks) {
        locks.fetch_sub(1);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    auto locks = LockCount(psa);
    ULONG current = locks.load();
    do {
        if (current == 0) {
            return E_UNEXPECTED;
        }
    } while (!locks.compare_exchange_weak(current, current - 1));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    const HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv) {
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    const void* element = ElementAt(psa, rgIndices);
    if (element == nullptr) {
        hr = DISP_E_BADINDEX;
    } else if ((psa->fFeatures & FADF_BSTR) != 0) {
        const BSTR source = *static_cast<const BSTR*>(element);
        BSTR copy = nullptr;
        if (source != nullptr) {
            copy = SysAllocStringLen(source, SysStringLen(source));
            if (copy == nullptr) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (SUCCEEDED(hr)) {
            *static_cast<BSTR*>(pv) = copy;
        }
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        auto* out = static_cast<VARIANT*>(pv);
        VariantInit(out);
        hr = VariantCopy(out, static_cast<const VARIANT*>(element));
    } else {
        std::memcpy(pv, element, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv) {
    if (psa == nullptr || rgIndices == nullptr) {
        return E_INVALIDARG;
    }
    // A null BSTR is a valid (empty) element; every other type needs a value to copy.
    if (pv == nullptr && (psa->fFeatures & FADF_BSTR) == 0) {
        return E_INVALIDARG;
    }
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    void* element = ElementAt(psa, rgIndices);
    if (element == nullptr) {
        hr = DISP_E_BADINDEX;
    } else if ((psa->fFeatures & FADF_BSTR) != 0) {
        // The BSTR itself is passed, not a pointer to it.
        const auto source = static_cast<BSTR>(const_cast<void*>(pv));
        BSTR copy = nullptr;
        if (source != nullptr) {
            copy = SysAllocStringLen(source, SysStringLen(source));
            if (copy == nullptr) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (SUCCEEDED(hr)) {
            auto* slot = static_cast<BSTR*>(element);
            SysFreeString(*slot);
            *slot = copy;
        }
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        hr = VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(pv));
    } else {
        std::memcpy(element, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}
