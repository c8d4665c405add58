#include "sim/owned_variant.h"

#include <gtest/gtest.h>

namespace {

OwnedVariant Double(double d) {
    OwnedVariant v;
    v.Get().vt = VT_R8;
    v.Get().dblVal = d;
    return v;
}

OwnedVariant Text(const char16_t* s) {
    OwnedVariant v;
    v.Get().vt = VT_BSTR;
    v.Get().bstrVal = SysAllocString(s);
    return v;
}

OwnedVariant Doubles(std::initializer_list<double> values) {
    OwnedVariant v;
    SAFEARRAY* a = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    LONG i = 0;
    for (double d : values) {
        SafeArrayPutElement(a, &i, &d);
        ++i;
    }
    v.Get().vt = VT_ARRAY | VT_R8;
    v.Get().parray = a;
    return v;
}

TEST(OwnedVariant, SameValueComparesByTypeAndContent) {
    EXPECT_TRUE(SameValue(Double(1.5).Get(), Double(1.5).Get()));
    EXPECT_FALSE(SameValue(Double(1.5).Get(), Double(2.5).Get()));
    EXPECT_TRUE(SameValue(Double(0.0).Get(), Double(-0.0).Get()));
    EXPECT_TRUE(SameValue(Text(u"abc").Get(), Text(u"abc").Get()));
    EXPECT_FALSE(SameValue(Text(u"abc").Get(), Text(u"abd").Get()));
    EXPECT_TRUE(SameValue(Doubles({1.0, 2.5}).Get(), Doubles({1.0, 2.5}).Get()));
    EXPECT_FALSE(SameValue(Doubles({1.0, 2.5}).Get(), Doubles({1.0, 2.0}).Get()));
    EXPECT_FALSE(SameValue(Doubles({1.0}).Get(), Doubles({1.0, 2.5}).Get()));

    // Only the bytes a type uses count: a 16-bit value with garbage above it is still equal.
    OwnedVariant a;
    OwnedVariant b;
    a.Get().vt = b.Get().vt = VT_I2;
    a.Get().llVal = 0x7777000000000005LL;
    b.Get().llVal = 0x0000000000000005LL;
    EXPECT_TRUE(SameValue(a.Get(), b.Get()));
    // One bool, two spellings of true.
    a.Get().vt = b.Get().vt = VT_BOOL;
    a.Get().boolVal = VARIANT_TRUE;
    b.Get().boolVal = 1;
    EXPECT_TRUE(SameValue(a.Get(), b.Get()));
    // Different types are different values, even when equal as numbers.
    OwnedVariant f;
    f.Get().vt = VT_R4;
    f.Get().fltVal = 1.5f;
    EXPECT_FALSE(SameValue(f.Get(), Double(1.5).Get()));
}

TEST(OwnedVariant, CopiesAreDeepAndAssignReusesScalars) {
    OwnedVariant original = Text(u"hello");
    OwnedVariant copy = original;
    ASSERT_NE(copy.Get().bstrVal, original.Get().bstrVal);
    EXPECT_TRUE(SameValue(copy.Get(), original.Get()));

    OwnedVariant target = Double(3.0);
    ASSERT_EQ(target.Assign(Text(u"x").Get()), S_OK);
    EXPECT_EQ(BstrView(target.Get().bstrVal), u"x");
    ASSERT_EQ(target.Assign(Double(4.0).Get()), S_OK);
    EXPECT_EQ(target.Type(), VT_R8);
    EXPECT_EQ(target.Get().dblVal, 4.0);
    ASSERT_EQ(target.Assign(Doubles({7.0}).Get()), S_OK);
    EXPECT_TRUE(SameValue(target.Get(), Doubles({7.0}).Get()));
}

TEST(OwnedVariant, ConversionsByTypeAndValue) {
    EXPECT_TRUE(IsConvertibleType(VT_R8, VT_EMPTY));
    EXPECT_TRUE(IsConvertibleType(VT_R8, VT_BSTR));
    EXPECT_TRUE(IsConvertibleType(VT_BOOL, VT_I1));
    EXPECT_TRUE(IsConvertibleType(VT_CY, VT_DATE));
    EXPECT_TRUE(IsConvertibleType(VT_ARRAY | VT_R8, VT_ARRAY | VT_R8));
    EXPECT_FALSE(IsConvertibleType(VT_ARRAY | VT_R8, VT_R8));
    EXPECT_FALSE(IsConvertibleType(VT_R8, VT_ARRAY | VT_R8));
    EXPECT_FALSE(IsConvertibleType(VT_ARRAY | VT_R8, VT_ARRAY | VT_BSTR));
    EXPECT_FALSE(IsConvertibleType(VT_R8, VT_UNKNOWN));

    OwnedVariant out;
    ASSERT_EQ(ConvertInto(out.Ptr(), Double(2.5).Get(), VT_CY), S_OK);
    EXPECT_EQ(out.Get().cyVal.int64, 25000);
    OwnedVariant back;
    ASSERT_EQ(ConvertInto(back.Ptr(), out.Get(), VT_R8), S_OK);
    EXPECT_EQ(back.Get().dblVal, 2.5);

    OwnedVariant date;
    ASSERT_EQ(ConvertInto(date.Ptr(), Double(46023.5).Get(), VT_DATE), S_OK);
    EXPECT_EQ(date.Get().date, 46023.5);
    OwnedVariant farFuture;
    EXPECT_EQ(ConvertInto(farFuture.Ptr(), Double(1e12).Get(), VT_DATE), DISP_E_OVERFLOW);
    EXPECT_EQ(farFuture.Type(), VT_EMPTY);

    OwnedVariant small;
    EXPECT_TRUE(FAILED(ConvertInto(small.Ptr(), Double(300.0).Get(), VT_UI1)));
    EXPECT_EQ(small.Type(), VT_EMPTY);
    OwnedVariant word;
    EXPECT_TRUE(FAILED(ConvertInto(word.Ptr(), Text(u"Alpha").Get(), VT_R8)));
    OwnedVariant number;
    ASSERT_EQ(ConvertInto(number.Ptr(), Text(u"12").Get(), VT_CY), S_OK);
    EXPECT_EQ(number.Get().cyVal.int64, 120000);
    OwnedVariant array;
    EXPECT_EQ(ConvertInto(array.Ptr(), Doubles({1.0}).Get(), VT_R8), DISP_E_TYPEMISMATCH);
}

}  // namespace
