#pragma once
// One-dimensional (and general) SAFEARRAY as OLE Automation lays it out.

#include "com/types.h"

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_VARIANT = 0x0800;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];  // cDims entries; rgsabound[0] is the rightmost dimension
};

// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
// VT_R4, VT_R8, VT_BOOL, VT_BSTR, VT_CY, VT_DATE, VT_VARIANT, VT_ERROR. Null for any other
// type, and for more than 2 GiB of data. The bounds are given leftmost dimension first.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);  // frees BSTR and VARIANT elements too
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);  // nDim counts from 1
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);  // in-place access, locks the array
// Locks nest; unlocking an unlocked array is E_UNEXPECTED.
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
// Element access by index, one index per dimension with the leftmost dimension first (it
// varies fastest in memory); DISP_E_BADINDEX outside the bounds. BSTR and VARIANT elements
// are copied. GetElement writes the copy to pv (a BSTR* or VARIANT* that it overwrites
// without freeing); PutElement takes the BSTR itself as pv for a VT_BSTR array and a
// VARIANT* for a VT_VARIANT one, and frees the element it replaces.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv);
