#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "com/variant.h"
#include "model/values.h"

namespace {

// A VARIANT that clears itself.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

std::string TextOf(VARTYPE vt, auto assign) {
    Var v;
    v.vt = vt;
    assign(v);
    return VariantToText(v);
}

SAFEARRAY* DoubleArray(const std::vector<double>& values, LONG lower = 0) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, lower, static_cast<ULONG>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(array, &index, &values[i]);
    }
    return array;
}

}  // namespace

TEST(Values, ScalarTextsKeepTheirExactFormats) {
    EXPECT_EQ(TextOf(VT_R8, [](Var& v) { v.dblVal = 12.3456; }), "   12.346 ");
    EXPECT_EQ(TextOf(VT_R8, [](Var& v) { v.dblVal = -1234567.0; }), "-1234567.000 ");
    EXPECT_EQ(TextOf(VT_R4, [](Var& v) { v.fltVal = 1.5f; }), "1.500 ");
    EXPECT_EQ(TextOf(VT_R4, [](Var& v) { v.fltVal = 123.25f; }), "123.250 ");
    EXPECT_EQ(TextOf(VT_I2, [](Var& v) { v.iVal = -5; }), "-5 ");
    EXPECT_EQ(TextOf(VT_I4, [](Var& v) { v.lVal = 7; }), "7 ");
    EXPECT_EQ(TextOf(VT_I4, [](Var& v) { v.lVal = -2147483647 - 1; }), "-2147483648 ");
    EXPECT_EQ(TextOf(VT_I1, [](Var& v) { v.cVal = static_cast<CHAR>(-100); }), "-100");
    EXPECT_EQ(TextOf(VT_UI1, [](Var& v) { v.bVal = 200; }), "200");
    EXPECT_EQ(TextOf(VT_UI2, [](Var& v) { v.uiVal = 65535; }), "65535");
    EXPECT_EQ(TextOf(VT_UI4, [](Var& v) { v.ulVal = 3000000000u; }), "3000000000");
    EXPECT_EQ(TextOf(VT_UI4, [](Var& v) { v.ulVal = 4294967295u; }), "4294967295");
    EXPECT_EQ(TextOf(VT_BOOL, [](Var& v) { v.boolVal = VARIANT_TRUE; }), "On");
    EXPECT_EQ(TextOf(VT_BOOL, [](Var& v) { v.boolVal = 1; }), "On");
    EXPECT_EQ(TextOf(VT_BOOL, [](Var& v) { v.boolVal = VARIANT_FALSE; }), "Off");
    EXPECT_EQ(TextOf(VT_EMPTY, [](Var&) {}), "Unknown type:0");
    EXPECT_EQ(TextOf(VT_ERROR, [](Var& v) { v.scode = 0; }), "Unknown type:10");
    EXPECT_EQ(TextOf(VT_I8, [](Var& v) { v.llVal = 1; }), "Unknown type:20");
    EXPECT_EQ(TextOf(VT_ARRAY | VT_I4, [](Var& v) { v.parray = nullptr; }), "Unknown type:8195");
}

TEST(Values, CurrencyShowsItsAmount) {
    EXPECT_EQ(TextOf(VT_CY, [](Var& v) { v.cyVal.int64 = 15000; }), "1.5");
    EXPECT_EQ(TextOf(VT_CY, [](Var& v) { v.cyVal.int64 = -25000; }), "-2.5");
    EXPECT_EQ(TextOf(VT_CY, [](Var& v) { v.cyVal.int64 = 1234; }), "0.1234");
    EXPECT_EQ(TextOf(VT_CY, [](Var& v) { v.cyVal.int64 = 0; }), "0");
    // Beyond the low 32 bits of the scaled integer.
    EXPECT_EQ(TextOf(VT_CY, [](Var& v) { v.cyVal.int64 = 50000000000000; }), "5000000000");
}

TEST(Values, StringTextsStopAtTheFirstNulAndKeepUtf8) {
    EXPECT_EQ(TextOf(VT_BSTR, [](Var& v) { v.bstrVal = SysAllocStringUtf8("abc"); }), "abc ");
    EXPECT_EQ(TextOf(VT_BSTR, [](Var& v) { v.bstrVal = SysAllocStringUtf8("Grüße €"); }),
              "Grüße € ");
    EXPECT_EQ(TextOf(VT_BSTR, [](Var& v) { v.bstrVal = nullptr; }), " ");
    const char16_t withNul[] = {u'a', u'b', u'\0', u'c'};
    EXPECT_EQ(TextOf(VT_BSTR, [&](Var& v) { v.bstrVal = SysAllocStringLen(withNul, 4); }), "ab ");
}

TEST(Values, ArrayTextsJoinDimensionOneAndReleaseTheData) {
    Var doubles;
    doubles.vt = VT_ARRAY | VT_R8;
    doubles.parray = DoubleArray({1.0, 2.5});
    EXPECT_EQ(VariantToText(doubles), "    1.000;    2.500;");
    EXPECT_EQ(doubles.parray->cLocks, 0u);  // accessed in place and released again

    Var shifted;
    shifted.vt = VT_ARRAY | VT_R8;
    shifted.parray = DoubleArray({-3.25, 1e6, 0.0005}, 5);
    EXPECT_EQ(VariantToText(shifted), "   -3.250;1000000.000;    0.001;");

    Var empty;
    empty.vt = VT_ARRAY | VT_R8;
    empty.parray = DoubleArray({});
    EXPECT_EQ(VariantToText(empty), "");

    Var nullArray;
    nullArray.vt = VT_ARRAY | VT_BSTR;
    nullArray.parray = nullptr;
    EXPECT_EQ(VariantToText(nullArray), "");

    Var strings;
    strings.vt = VT_ARRAY | VT_BSTR;
    strings.parray = SafeArrayCreateVector(VT_BSTR, 1, 3);
    const char* const texts[] = {"a", "", "Ωmega"};
    for (LONG i = 0; i < 3; ++i) {
        const LONG index = i + 1;
        BSTR text = SysAllocStringUtf8(texts[i]);
        SafeArrayPutElement(strings.parray, &index, text);
        SysFreeString(text);
    }
    EXPECT_EQ(VariantToText(strings), "a;;Ωmega;");
    EXPECT_EQ(strings.parray->cLocks, 0u);

    // A tag that names doubles over an array of another element size is not read as doubles.
    Var mislabelled;
    mislabelled.vt = VT_ARRAY | VT_R8;
    mislabelled.parray = SafeArrayCreateVector(VT_I2, 0, 4);
    EXPECT_EQ(VariantToText(mislabelled), "");
    mislabelled.vt = VT_ARRAY | VT_I2;  // so that the clean-up frees it by its real type
}

TEST(Values, OleDatesFormatThroughTheCalendar) {
    Var date;
    date.vt = VT_DATE;
    date.date = 45000.5;
    EXPECT_EQ(VariantToText(date), "2023-03-15 12:00:00");
    // Weekday and day of year reach strftime too: 2023-03-15 is a Wednesday, day 74.
    EXPECT_EQ(FormatOleDate(45000.5, "%a %j %p"), "Wed 074 PM");
    EXPECT_EQ(FormatOleDate(0.0, "%Y-%m-%d %H:%M:%S"), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatOleDate(-1.25, "%Y-%m-%d %H:%M"), "1899-12-29 06:00");
    EXPECT_EQ(FormatOleDate(1e12, "%Y"), "Invalid DateTime");
    EXPECT_EQ(FormatOleDate(std::numeric_limits<double>::quiet_NaN(), "%Y"), "Invalid DateTime");
    // A text longer than the 256-character limit gives nothing rather than a cut or overrun.
    EXPECT_EQ(FormatOleDate(45000.5, std::string(300, 'x').c_str()), "");
    EXPECT_EQ(FormatOleDate(45000.5, std::string(255, 'x').c_str()), std::string(255, 'x'));
}

TEST(Values, DoubleToTextDropsTrailingZeros) {
    EXPECT_EQ(DoubleToText(0.0), "0");
    EXPECT_EQ(DoubleToText(-0.0), "0");
    EXPECT_EQ(DoubleToText(100.0), "100");
    EXPECT_EQ(DoubleToText(12.5), "12.5");
    EXPECT_EQ(DoubleToText(-0.25), "-0.25");
    EXPECT_EQ(DoubleToText(0.5), "0.5");
    EXPECT_EQ(DoubleToText(123456789.0), "123456789");
    EXPECT_EQ(DoubleToText(1.235), "1.235");
    EXPECT_EQ(DoubleToText(50.0122100122), "50.01221");
    EXPECT_EQ(DoubleToText(0.0000001), "0");
    EXPECT_EQ(DoubleToText(-0.0000001), "-0");
    EXPECT_EQ(DoubleToText(1000000.0000004), "1000000");
    EXPECT_EQ(DoubleToText(10.0), "10");
    // Whatever "%f" prints for the extremes goes through the same steps.
    EXPECT_EQ(DoubleToText(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(DoubleToText(-std::numeric_limits<double>::infinity()), "-inf");
    const std::string nan = DoubleToText(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(nan == "nan" || nan == "-nan") << nan;
    const std::string huge = DoubleToText(std::numeric_limits<double>::max());
    EXPECT_EQ(huge.size(), 309u);
    EXPECT_EQ(huge.substr(0, 6), "179769");
    EXPECT_EQ(DoubleToText(-1e300).substr(0, 3), "-10");
}

TEST(Values, TextToVariantConvertsOrLeavesEmpty) {
    Var out;
    TextToVariant("42", VT_I4, out);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 42);

    TextToVariant("-2.5", VT_R8, out);
    EXPECT_EQ(out.vt, VT_R8);
    EXPECT_EQ(out.dblVal, -2.5);

    TextToVariant("300", VT_UI1, out);  // out of range
    EXPECT_EQ(out.vt, VT_EMPTY);

    TextToVariant("abc", VT_I2, out);
    EXPECT_EQ(out.vt, VT_EMPTY);

    TextToVariant("héllo", VT_BSTR, out);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(out.bstrVal), "héllo");
    VariantClear(&out);
}

TEST(Values, TypeNamesQualitiesAndAccess) {
    EXPECT_EQ(TypeName(VT_EMPTY), "Empty");
    EXPECT_EQ(TypeName(VT_I1), "INT8");
    EXPECT_EQ(TypeName(VT_UI4), "UINT32");
    EXPECT_EQ(TypeName(VT_BOOL), "Boolean");
    EXPECT_EQ(TypeName(VT_ARRAY | VT_R8), "Array Double");
    EXPECT_EQ(TypeName(VT_ARRAY | VT_BSTR), "Array String");
    EXPECT_EQ(TypeName(VT_NULL), "Type:1");
    EXPECT_EQ(TypeName(0xFFFF), "Type:65535");

    for (int vt = 0; vt <= 0xFFFF; ++vt) {
        const auto type = static_cast<VARTYPE>(vt);
        const bool numeric = vt == 2 || vt == 3 || vt == 4 || vt == 5 || vt == 16 || vt == 17 ||
                             vt == 18 || vt == 19;
        ASSERT_EQ(IsNumericType(type), numeric) << vt;
        ASSERT_EQ(IsWritableKind(type), numeric || vt == VT_BOOL) << vt;
    }

    for (const std::uint32_t good : {0xC0u, 0x80u, 0xD8u}) {
        EXPECT_EQ(QualityText(good), "Good") << good;
    }
    for (const std::uint32_t uncertain : {0x40u, 0x58u}) {
        EXPECT_EQ(QualityText(uncertain), "Uncertain") << uncertain;
    }
    for (const std::uint32_t bad : {0x00u, 0x1Cu, 0xFF00u}) {  // only the quality bits count
        EXPECT_EQ(QualityText(bad), "Bad") << bad;
    }

    EXPECT_EQ(AccessText(3), "R+W");
    EXPECT_EQ(AccessText(2), "W");
    EXPECT_EQ(AccessText(1), "R");
    EXPECT_EQ(AccessText(0), "");
    EXPECT_EQ(AccessText(0xFFFFFFFC), "");
}
