#include <gtest/gtest.h>

#include "com/variant.h"

namespace {

VARIANT Text(const char16_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

TEST(ValueVariant, ClearReleasesWhatTheVariantOwns) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), S_OK);

    v = Text(u"released");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    const LONG at = 0;
    BSTR element = SysAllocString(u"inside");
    SafeArrayPutElement(v.parray, &at, element);
    SysFreeString(element);
    SafeArrayLock(v.parray);
    // A locked array is not destroyed and stays with its variant.
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);
    SafeArrayUnlock(v.parray);
    EXPECT_EQ(VariantClear(&v), S_OK);

    // A reference owns nothing.
    LONG referent = 5;
    v.vt = VT_BYREF | VT_I4;
    v.byref = &referent;
    EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(ValueVariant, InvalidTypesAreRefused) {
    for (const VARTYPE vt :
         {VARTYPE{15}, VARTYPE{24}, VARTYPE{0x1000 | VT_I4}, VARTYPE{VT_ARRAY | VT_EMPTY},
          VARTYPE{VT_BYREF | VT_NULL}, VARTYPE{0x8000 | VT_I2}, VARTYPE{VT_UNKNOWN}}) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
        VARIANT copy;
        VariantInit(&copy);
        EXPECT_EQ(VariantCopy(&copy, &v), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(copy.vt, VT_EMPTY);
    }
}

TEST(ValueVariant, CopyIsDeepAndLeavesTheDestinationOnFailure) {
    VARIANT source = Text(u"level");
    VARIANT dest = Text(u"old");
    ASSERT_EQ(VariantCopy(&dest, &source), S_OK);  // frees "old"
    EXPECT_NE(dest.bstrVal, source.bstrVal);
    EXPECT_EQ(BstrView(dest.bstrVal), u"level");
    EXPECT_EQ(VariantCopy(&dest, &dest), S_OK);
    EXPECT_EQ(BstrView(dest.bstrVal), u"level");

    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_R8;
    array.parray = SafeArrayCreateVector(VT_R8, 0, 2);
    static_cast<double*>(array.parray->pvData)[1] = 2.5;
    VARIANT arrayCopy;
    VariantInit(&arrayCopy);
    ASSERT_EQ(VariantCopy(&arrayCopy, &array), S_OK);
    EXPECT_NE(arrayCopy.parray, array.parray);
    EXPECT_EQ(static_cast<double*>(arrayCopy.parray->pvData)[1], 2.5);

    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 15;
    EXPECT_EQ(VariantCopy(&dest, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(BstrView(dest.bstrVal), u"level");

    // A destination holding a locked array cannot be cleared, so it is left as it was.
    SafeArrayLock(arrayCopy.parray);
    EXPECT_EQ(VariantCopy(&arrayCopy, &source), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(arrayCopy.vt, VT_ARRAY | VT_R8);
    SafeArrayUnlock(arrayCopy.parray);

    for (VARIANT* v : {&source, &dest, &array, &arrayCopy}) {
        EXPECT_EQ(VariantClear(v), S_OK);
    }
}

}  // namespace
