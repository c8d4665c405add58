#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "com/variant.h"

namespace {

// Owns a variant for the length of a test.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    explicit Var(std::u16string_view text) : Var() {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    ~Var() { VariantClear(&v); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

VARIANT Double(double d) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_R8;
    x.dblVal = d;
    return x;
}

HRESULT Convert(const VARIANT& source, VARTYPE vt, Var& out, USHORT flags = 0) {
    return VariantChangeType(&out.v, &source, flags, vt);
}

// The integer the text converts to as vt, or the failure.
struct IntResult {
    HRESULT hr;
    long long value;
};
IntResult TextToInt(std::u16string_view text, VARTYPE vt) {
    Var source(text);
    Var out;
    const HRESULT hr = Convert(source.v, vt, out);
    if (FAILED(hr)) {
        return {hr, 0};
    }
    EXPECT_EQ(out.v.vt, vt);
    switch (vt) {
        case VT_I1:
            return {hr, static_cast<signed char>(out.v.cVal)};
        case VT_UI1:
            return {hr, out.v.bVal};
        case VT_I2:
            return {hr, out.v.iVal};
        case VT_UI2:
            return {hr, out.v.uiVal};
        case VT_I4:
            return {hr, out.v.lVal};
        case VT_UI4:
            return {hr, out.v.ulVal};
        case VT_BOOL:
            return {hr, out.v.boolVal};
        default:
            return {E_FAIL, 0};
    }
}

std::u16string ToText(const VARIANT& source, USHORT flags = 0) {
    Var out;
    const HRESULT hr = Convert(source, VT_BSTR, out, flags);
    EXPECT_EQ(hr, S_OK);
    return std::u16string(BstrView(out.v.bstrVal));
}

#define EXPECT_INT(text, vt, expected)           \
    do {                                         \
        const IntResult r = TextToInt(text, vt); \
        EXPECT_EQ(r.hr, S_OK) << #text;          \
        EXPECT_EQ(r.value, expected) << #text;   \
    } while (0)
#define EXPECT_FAILS(text, vt, code) EXPECT_EQ(TextToInt(text, vt).hr, code) << #text

TEST(ValueChangeType, TextToIntegerFollowsTheNumberSyntax) {
    EXPECT_INT(u" 42 ", VT_I4, 42);
    EXPECT_INT(u"\t+7\r\n", VT_I4, 7);
    EXPECT_INT(u"1,000", VT_I4, 1000);
    EXPECT_INT(u"1,234,567", VT_I4, 1234567);
    EXPECT_INT(u"-7", VT_I4, -7);
    EXPECT_INT(u"7-", VT_I4, -7);
    EXPECT_INT(u"(7)", VT_I4, -7);
    EXPECT_INT(u"$5", VT_I4, 5);
    EXPECT_INT(u"1e3", VT_I4, 1000);
    EXPECT_INT(u"1.5E+1", VT_I4, 15);
    EXPECT_INT(u"25e-1", VT_I4, 2);
    EXPECT_INT(u"007", VT_I4, 7);
    EXPECT_INT(u"&HFF", VT_I4, 255);
    EXPECT_INT(u"&hff", VT_I4, 255);
    EXPECT_INT(u"&O17", VT_I4, 15);
    EXPECT_INT(u"-&H10", VT_I4, -16);
    EXPECT_INT(u"&HFFFFFFFF", VT_I4, -1);  // the bits of the target width
    EXPECT_INT(u"&HFFFF", VT_I2, -1);
    EXPECT_INT(u"&H8000", VT_I2, -32768);
    EXPECT_INT(u"&HFFFF", VT_UI2, 65535);

    for (const char16_t* text :
         {u"", u"   ", u"abc", u"1e", u"1e+", u"1.2.3", u"--1", u"-1-", u"(1", u"1)", u"&H", u"&O8",
          u"1 2", u"12abc", u".", u"-", u"1.5,3", u"e3", u"&HZ"}) {
        EXPECT_FAILS(text, VT_I4, DISP_E_TYPEMISMATCH);
    }
    EXPECT_FAILS(std::u16string_view(u"5\0"
                                     "1",
                                     3),
                 VT_I4, DISP_E_TYPEMISMATCH);
    EXPECT_FAILS(u"&H10000", VT_I2, DISP_E_OVERFLOW);
    EXPECT_FAILS(u"&H1FFFFFFFFFFFFFFFF", VT_I4, DISP_E_OVERFLOW);
}

TEST(ValueChangeType, TextToIntegerRoundsHalfToEvenAndChecksRange) {
    EXPECT_INT(u"2.5", VT_I4, 2);
    EXPECT_INT(u"3.5", VT_I4, 4);
    EXPECT_INT(u"-2.5", VT_I4, -2);
    EXPECT_INT(u"2.5000000001", VT_I4, 3);
    EXPECT_INT(u"0.5", VT_I4, 0);
    EXPECT_INT(u".51", VT_I4, 1);
    EXPECT_INT(u"0.049", VT_I4, 0);

    EXPECT_INT(u"127", VT_I1, 127);
    EXPECT_FAILS(u"127.5", VT_I1, DISP_E_OVERFLOW);
    EXPECT_INT(u"-128.5", VT_I1, -128);
    EXPECT_FAILS(u"-129", VT_I1, DISP_E_OVERFLOW);
    EXPECT_INT(u"255.4", VT_UI1, 255);
    EXPECT_FAILS(u"255.5", VT_UI1, DISP_E_OVERFLOW);
    EXPECT_INT(u"-0.5", VT_UI1, 0);
    EXPECT_FAILS(u"-1", VT_UI1, DISP_E_OVERFLOW);
    EXPECT_INT(u"32767", VT_I2, 32767);
    EXPECT_FAILS(u"32768", VT_I2, DISP_E_OVERFLOW);
    EXPECT_INT(u"65535", VT_UI2, 65535);
    EXPECT_FAILS(u"-1", VT_UI2, DISP_E_OVERFLOW);
    EXPECT_INT(u"-2147483648", VT_I4, -2147483648LL);
    EXPECT_FAILS(u"2147483648", VT_I4, DISP_E_OVERFLOW);
    EXPECT_INT(u"4294967295", VT_UI4, 4294967295LL);
    EXPECT_FAILS(u"4294967296", VT_UI4, DISP_E_OVERFLOW);
    EXPECT_FAILS(u"1e30", VT_UI4, DISP_E_OVERFLOW);
    EXPECT_FAILS(u"1e999999999999", VT_I4, DISP_E_OVERFLOW);
    EXPECT_INT(u"1e-999999999999", VT_I4, 0);
}

TEST(ValueChangeType, TextToBooleanAcceptsWordsAndNumbers) {
    EXPECT_INT(u"True", VT_BOOL, VARIANT_TRUE);
    EXPECT_INT(u"  tRUE ", VT_BOOL, VARIANT_TRUE);
    EXPECT_INT(u"FALSE", VT_BOOL, VARIANT_FALSE);
    EXPECT_INT(u"#TRUE#", VT_BOOL, VARIANT_TRUE);
    EXPECT_INT(u"0", VT_BOOL, VARIANT_FALSE);
    EXPECT_INT(u"0.0", VT_BOOL, VARIANT_FALSE);
    EXPECT_INT(u"-2", VT_BOOL, VARIANT_TRUE);
    EXPECT_INT(u"0.001", VT_BOOL, VARIANT_TRUE);
    EXPECT_FAILS(u"yes", VT_BOOL, DISP_E_TYPEMISMATCH);
    EXPECT_FAILS(u"", VT_BOOL, DISP_E_TYPEMISMATCH);
}

TEST(ValueChangeType, TextToFloatingPoint) {
    const auto toDouble = [](std::u16string_view text, double& out) {
        Var source(text);
        Var result;
        const HRESULT hr = Convert(source.v, VT_R8, result);
        out = result.v.dblVal;
        return hr;
    };
    double d = 0;
    ASSERT_EQ(toDouble(u"12.7", d), S_OK);
    EXPECT_EQ(d, 12.7);
    ASSERT_EQ(toDouble(u" -1,234.5e-3 ", d), S_OK);
    EXPECT_EQ(d, -1.2345);
    ASSERT_EQ(toDouble(u"0.1", d), S_OK);
    EXPECT_EQ(d, 0.1);
    ASSERT_EQ(toDouble(u"1.7976931348623157e308", d), S_OK);
    EXPECT_EQ(d, std::numeric_limits<double>::max());
    EXPECT_EQ(toDouble(u"1e309", d), DISP_E_OVERFLOW);
    ASSERT_EQ(toDouble(u"1e-400", d), S_OK);
    EXPECT_EQ(d, 0.0);
    ASSERT_EQ(toDouble(u"&HFFFF", d), S_OK);
    EXPECT_EQ(d, 65535.0);
    // More digits than are kept still round correctly: just above the halfway point
    // between 1 and the next double.
    std::u16string longText = u"1.00000000000000011102230246251565404236316680908203125";
    longText += std::u16string(900, u'0') + u"1";
    ASSERT_EQ(toDouble(longText, d), S_OK);
    EXPECT_EQ(d, std::nextafter(1.0, 2.0));
    ASSERT_EQ(toDouble(u"1" + std::u16string(1000, u'0') + u"e-1000", d), S_OK);
    EXPECT_EQ(d, 1.0);

    Var source(u"3.4e38");
    Var result;
    ASSERT_EQ(Convert(source.v, VT_R4, result), S_OK);
    EXPECT_EQ(result.v.fltVal, 3.4e38f);
    Var tooLarge(u"3.5e38");
    EXPECT_EQ(Convert(tooLarge.v, VT_R4, result), DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Double(-1e39), VT_R4, result), DISP_E_OVERFLOW);
}

TEST(ValueChangeType, NumbersToText) {
    EXPECT_EQ(ToText(Double(12.7)), u"12.7");
    EXPECT_EQ(ToText(Double(1e20)), u"1E+20");
    EXPECT_EQ(ToText(Double(0.0001)), u"0.0001");
    EXPECT_EQ(ToText(Double(0.00001)), u"1E-05");
    EXPECT_EQ(ToText(Double(-0.0)), u"0");
    EXPECT_EQ(ToText(Double(1.0 / 3)), u"0.333333333333333");
    EXPECT_EQ(ToText(Double(123456789012345.0)), u"123456789012345");
    EXPECT_EQ(ToText(Double(1234567890123456.0)), u"1.23456789012346E+15");
    EXPECT_EQ(ToText(Double(-2.5)), u"-2.5");

    Var f;
    f.v.vt = VT_R4;
    f.v.fltVal = 0.1f;
    EXPECT_EQ(ToText(f.v), u"0.1");
    f.v.fltVal = 16777216.0f;
    EXPECT_EQ(ToText(f.v), u"1.677722E+07");

    Var i;
    i.v.vt = VT_I4;
    i.v.lVal = -5;
    EXPECT_EQ(ToText(i.v), u"-5");
    i.v.vt = VT_UI4;
    i.v.ulVal = 4294967295u;
    EXPECT_EQ(ToText(i.v), u"4294967295");
    i.v.vt = VT_I1;
    i.v.cVal = -128;
    EXPECT_EQ(ToText(i.v), u"-128");

    Var b;
    b.v.vt = VT_BOOL;
    b.v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(ToText(b.v), u"-1");
    EXPECT_EQ(ToText(b.v, VARIANT_ALPHABOOL), u"True");
    b.v.boolVal = VARIANT_FALSE;
    EXPECT_EQ(ToText(b.v), u"0");
    EXPECT_EQ(ToText(b.v, VARIANT_ALPHABOOL | VARIANT_NOVALUEPROP), u"False");

    Var cy;
    cy.v.vt = VT_CY;
    cy.v.cyVal.int64 = 15000;
    EXPECT_EQ(ToText(cy.v), u"1.5");
    cy.v.cyVal.int64 = -10001;
    EXPECT_EQ(ToText(cy.v), u"-1.0001");

    Var date;
    date.v.vt = VT_DATE;
    date.v.date = 45000.5;
    EXPECT_EQ(ToText(date.v), u"3/15/2023 12:00:00 PM");
    date.v.date = 45000.0;
    EXPECT_EQ(ToText(date.v), u"3/15/2023");
    date.v.date = 0.75;
    EXPECT_EQ(ToText(date.v), u"6:00:00 PM");

    Var empty;
    EXPECT_EQ(ToText(empty.v), u"");
}

TEST(ValueChangeType, TextRoundTripsThroughDouble) {
    for (const double x : {123.456, -0.001, 1e-10, 9.99e300, 42.0, 0.5, 1234567.125}) {
        const std::u16string text = ToText(Double(x));
        Var source(text);
        Var back;
        ASSERT_EQ(Convert(source.v, VT_R8, back), S_OK);
        EXPECT_EQ(back.v.dblVal, x);
    }
}

TEST(ValueChangeType, BetweenNumbers) {
    Var out;
    const auto toI4 = [&out](double d) { return Convert(Double(d), VT_I4, out); };
    ASSERT_EQ(toI4(2.5), S_OK);
    EXPECT_EQ(out.v.lVal, 2);
    ASSERT_EQ(toI4(3.5), S_OK);
    EXPECT_EQ(out.v.lVal, 4);
    ASSERT_EQ(toI4(-2.5), S_OK);
    EXPECT_EQ(out.v.lVal, -2);
    ASSERT_EQ(toI4(-2147483648.5), S_OK);
    EXPECT_EQ(out.v.lVal, std::numeric_limits<LONG>::min());
    EXPECT_EQ(toI4(2147483647.5), DISP_E_OVERFLOW);
    EXPECT_EQ(toI4(std::nan("")), DISP_E_OVERFLOW);
    EXPECT_EQ(toI4(-std::numeric_limits<double>::infinity()), DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Double(255.5), VT_UI1, out), DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Double(-0.6), VT_UI4, out), DISP_E_OVERFLOW);

    Var i;
    i.v.vt = VT_I4;
    i.v.lVal = -1;
    EXPECT_EQ(Convert(i.v, VT_UI2, out), DISP_E_OVERFLOW);
    i.v.lVal = 300;
    EXPECT_EQ(Convert(i.v, VT_UI1, out), DISP_E_OVERFLOW);
    ASSERT_EQ(Convert(i.v, VT_R4, out), S_OK);
    EXPECT_EQ(out.v.fltVal, 300.0f);
    i.v.vt = VT_UI4;
    i.v.ulVal = 4294967295u;
    EXPECT_EQ(Convert(i.v, VT_I4, out), DISP_E_OVERFLOW);
    ASSERT_EQ(Convert(i.v, VT_R8, out), S_OK);
    EXPECT_EQ(out.v.dblVal, 4294967295.0);

    Var b;
    b.v.vt = VT_BOOL;
    b.v.boolVal = VARIANT_TRUE;
    ASSERT_EQ(Convert(b.v, VT_I2, out), S_OK);
    EXPECT_EQ(out.v.iVal, -1);
    ASSERT_EQ(Convert(b.v, VT_UI1, out), S_OK);
    EXPECT_EQ(out.v.bVal, 255);  // all bits set
    ASSERT_EQ(Convert(Double(0.1), VT_BOOL, out), S_OK);
    EXPECT_EQ(out.v.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Convert(Double(0.0), VT_BOOL, out), S_OK);
    EXPECT_EQ(out.v.boolVal, VARIANT_FALSE);

    Var empty;
    ASSERT_EQ(Convert(empty.v, VT_I4, out), S_OK);
    EXPECT_EQ(out.v.vt, VT_I4);
    EXPECT_EQ(out.v.lVal, 0);

    ASSERT_EQ(Convert(Double(1.23456), VT_CY, out), S_OK);
    EXPECT_EQ(out.v.cyVal.int64, 12346);
    Var cy;
    cy.v.vt = VT_CY;
    cy.v.cyVal.int64 = 25000;
    ASSERT_EQ(Convert(cy.v, VT_I4, out), S_OK);
    EXPECT_EQ(out.v.lVal, 2);
    Var cyText(u"1.00005");
    ASSERT_EQ(Convert(cyText.v, VT_CY, out), S_OK);
    EXPECT_EQ(out.v.cyVal.int64, 10000);
    EXPECT_EQ(Convert(Double(1e16), VT_CY, out), DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(Double(1e7), VT_DATE, out), DISP_E_OVERFLOW);
}

TEST(ValueChangeType, FailureLeavesTheDestinationAndInPlaceWorks) {
    Var dest(u"keep");
    Var bad(u"abc");
    EXPECT_EQ(VariantChangeType(&dest.v, &bad.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest.v.vt, VT_BSTR);
    EXPECT_EQ(BstrView(dest.v.bstrVal), u"keep");

    Var v(u" 17 ");
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I2), S_OK);
    EXPECT_EQ(v.v.vt, VT_I2);
    EXPECT_EQ(v.v.iVal, 17);
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrView(v.v.bstrVal), u"17");
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrView(v.v.bstrVal), u"17");

    LONG referent = 99;
    Var ref;
    ref.v.vt = VT_BYREF | VT_I4;
    ref.v.byref = &referent;
    EXPECT_EQ(ToText(ref.v), u"99");
}

TEST(ValueChangeType, UnconvertibleTypes) {
    Var out;
    Var src;
    src.v.vt = VT_NULL;
    EXPECT_EQ(Convert(src.v, VT_I4, out), DISP_E_TYPEMISMATCH);
    src.v.vt = VT_ERROR;
    EXPECT_EQ(Convert(src.v, VT_BSTR, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Convert(Double(1), VT_ERROR, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Convert(Double(1), 15, out), DISP_E_BADVARTYPE);
    EXPECT_EQ(Convert(Double(1), VT_BYREF | VT_I4, out), DISP_E_TYPEMISMATCH);
    src.v.vt = 0x1000 | VT_I4;
    EXPECT_EQ(Convert(src.v, VT_I4, out), DISP_E_BADVARTYPE);
    src.v.vt = VT_EMPTY;
    Var nullText;
    nullText.v.vt = VT_BSTR;  // a null BSTR is empty text
    EXPECT_EQ(Convert(nullText.v, VT_I4, out), DISP_E_TYPEMISMATCH);
    Var dateText(u"3/15/2023");
    EXPECT_EQ(Convert(dateText.v, VT_DATE, out), E_NOTIMPL);

    Var array;
    array.v.vt = VT_ARRAY | VT_R8;
    array.v.parray = SafeArrayCreateVector(VT_R8, 0, 1);
    EXPECT_EQ(Convert(array.v, VT_R8, out), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(Convert(array.v, VT_ARRAY | VT_R8, out), S_OK);
    EXPECT_NE(out.v.parray, array.v.parray);
    EXPECT_EQ(out.v.vt, VT_ARRAY | VT_R8);
}

}  // namespace
