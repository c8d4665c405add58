#include <gtest/gtest.h>

#include <limits>

#include "com/variant.h"

namespace {

TEST(ValueSafeArray, VectorReportsItsShape) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, -2, 5);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(psa), 8u);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_R8);
    LONG lower = 0;
    LONG upper = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    EXPECT_EQ(lower, -2);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(SafeArrayGetLBound(psa, 0, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa, 2, &upper), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

    // An empty vector is valid: its upper bound is one below the lower.
    psa = SafeArrayCreateVector(VT_BSTR, 0, 0);
    ASSERT_NE(psa, nullptr);
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(ValueSafeArray, ElementTypesAndRefusals) {
    const struct {
        VARTYPE vt;
        UINT size;
    } types[] = {{VT_I1, 1},
                 {VT_UI1, 1},
                 {VT_I2, 2},
                 {VT_UI2, 2},
                 {VT_BOOL, 2},
                 {VT_I4, 4},
                 {VT_UI4, 4},
                 {VT_R4, 4},
                 {VT_ERROR, 4},
                 {VT_R8, 8},
                 {VT_CY, 8},
                 {VT_DATE, 8},
                 {VT_BSTR, sizeof(BSTR)},
                 {VT_VARIANT, sizeof(VARIANT)}};
    for (const auto& t : types) {
        SAFEARRAY* psa = SafeArrayCreateVector(t.vt, 0, 3);
        ASSERT_NE(psa, nullptr) << t.vt;
        EXPECT_EQ(SafeArrayGetElemsize(psa), t.size) << t.vt;
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
        EXPECT_EQ(vt, t.vt);
        SafeArrayDestroy(psa);
    }
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_UNKNOWN, 0, 1), nullptr);
    // A size that cannot be allocated, and an upper bound beyond LONG, are refused.
    EXPECT_EQ(SafeArrayCreateVector(VT_R8, 0, std::numeric_limits<ULONG>::max()), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_UI1, std::numeric_limits<LONG>::max(), 2), nullptr);
    const SAFEARRAYBOUND huge[] = {{0x10000, 0}, {0x10000, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, huge), nullptr);
}

TEST(ValueSafeArray, LocksGuardDestruction) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 2);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(data, psa->pvData);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    EXPECT_EQ(psa->cLocks, 2u);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);  // never below zero
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
}

TEST(ValueSafeArray, MultiDimensionalIndexingIsColumnMajor) {
    // Two rows (indices 1..2) by three columns (indices -1..1).
    const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, -1}};
    SAFEARRAY* psa = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(psa, nullptr);
    LONG lower = 0;
    SafeArrayGetLBound(psa, 1, &lower);
    EXPECT_EQ(lower, 1);
    SafeArrayGetLBound(psa, 2, &lower);
    EXPECT_EQ(lower, -1);
    for (LONG row = 1; row <= 2; ++row) {
        for (LONG col = -1; col <= 1; ++col) {
            const LONG at[] = {row, col};
            const SHORT value = static_cast<SHORT>(row * 10 + col);
            ASSERT_EQ(SafeArrayPutElement(psa, at, &value), S_OK);
        }
    }
    const auto* data = static_cast<const SHORT*>(psa->pvData);
    EXPECT_EQ(data[0], 9);   // (1,-1)
    EXPECT_EQ(data[1], 19);  // (2,-1): the first index varies fastest
    EXPECT_EQ(data[5], 21);  // (2, 1)
    SHORT out = 0;
    const LONG at[] = {2, 0};
    ASSERT_EQ(SafeArrayGetElement(psa, at, &out), S_OK);
    EXPECT_EQ(out, 20);
    for (const auto& bad : {std::pair<LONG, LONG>{0, 0}, {3, 0}, {1, -2}, {1, 2}}) {
        const LONG index[] = {bad.first, bad.second};
        EXPECT_EQ(SafeArrayGetElement(psa, index, &out), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayPutElement(psa, index, &out), DISP_E_BADINDEX);
    }
    EXPECT_EQ(psa->cLocks, 0u);  // element access releases its lock, also on failure
    SafeArrayDestroy(psa);
}

TEST(ValueSafeArray, StringAndVariantElementsAreCopiedDeeply) {
    SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
    BSTR text = SysAllocString(u"pump");
    const LONG first = 0;
    ASSERT_EQ(SafeArrayPutElement(strings, &first, text), S_OK);
    SysFreeString(text);  // the array holds its own copy
    text = SysAllocStringUtf8("valve");
    ASSERT_EQ(SafeArrayPutElement(strings, &first, text), S_OK);  // frees the old element
    SysFreeString(text);

    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(strings, &first, &out), S_OK);
    EXPECT_EQ(BstrView(out), u"valve");
    EXPECT_NE(out, static_cast<BSTR*>(strings->pvData)[0]);
    SysFreeString(out);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(strings, &copy), S_OK);
    EXPECT_NE(static_cast<BSTR*>(copy->pvData)[0], static_cast<BSTR*>(strings->pvData)[0]);
    EXPECT_EQ(BstrView(static_cast<BSTR*>(copy->pvData)[0]), u"valve");
    EXPECT_EQ(static_cast<BSTR*>(copy->pvData)[1], nullptr);
    EXPECT_EQ(SafeArrayDestroy(strings), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 1, 1);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"motor");
    const LONG one = 1;
    ASSERT_EQ(SafeArrayPutElement(variants, &one, &v), S_OK);
    VariantClear(&v);
    ASSERT_EQ(SafeArrayCopy(variants, &copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
    VARIANT got;
    ASSERT_EQ(SafeArrayGetElement(copy, &one, &got), S_OK);
    EXPECT_EQ(got.vt, VT_BSTR);
    EXPECT_EQ(BstrView(got.bstrVal), u"motor");
    VariantClear(&got);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

    EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
    EXPECT_EQ(copy, nullptr);
}

}  // namespace
