#pragma once
// VARIANT, the tagged value of OLE Automation, with its life-cycle and conversion functions.

#include "com/bstr.h"
#include "com/hresult.h"
#include "com/safearray.h"
#include "com/types.h"

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

// Flags of VariantChangeType.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// This platform's VARIANT carries no interface or record pointers: VT_UNKNOWN, VT_DISPATCH
// and VT_RECORD values are refused with DISP_E_BADVARTYPE, as are types no VARIANT may hold.

void VariantInit(VARIANT* pvarg);
// Frees what the variant owns (BSTR, SAFEARRAY) and leaves it VT_EMPTY. A variant holding a
// locked array is left as it is (DISP_E_ARRAYISLOCKED).
HRESULT VariantClear(VARIANT* pvarg);
// Clears the destination, then makes it a deep copy of the source (a VT_BYREF variant copies
// the reference). On failure the destination is left untouched.
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
// Converts between VT_BSTR and VT_I1, VT_I2, VT_I4, VT_UI1, VT_UI2, VT_UI4, VT_R4, VT_R8,
// VT_BOOL (and among those types) with the OLE Automation rules for the US-English locale;
// VT_I8, VT_UI8, VT_INT, VT_UINT, VT_CY and VT_DATE convert as numbers too, and a date
// converts to text. Text does not convert to VT_DATE, nor anything to or from VT_DECIMAL
// (E_NOTIMPL). A VT_BYREF source converts as the value it refers to; an array converts only
// to its own type (a copy). Failures: DISP_E_TYPEMISMATCH for text that is not a number and
// for types that do not convert, DISP_E_OVERFLOW for a value outside the target's range.
// The destination may be the source. On failure the destination is left untouched.
// VARIANT_NOVALUEPROP is accepted (there are no objects with a value property here);
// VARIANT_ALPHABOOL (or VARIANT_LOCALBOOL) makes a boolean read "True"/"False".
HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt);
