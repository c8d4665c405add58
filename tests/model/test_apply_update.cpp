// How a live update lands in an item record: the number read through its display text, the
// scaling, the history on change, booleans and texts, the UTC timestamp.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "com/oledate.h"
#include "model/item_record.h"
#include "model/item_update.h"
#include "model/values.h"

namespace {

class FakeLiveItem : public IItemUpdateSource {
  public:
    explicit FakeLiveItem(VARTYPE canonical) : canonical_(canonical) {
        VariantInit(&value_);
        SetTime(2024, 3, 1, 12, 0, 0, 250);
    }
    ~FakeLiveItem() { VariantClear(&value_); }
    FakeLiveItem(const FakeLiveItem&) = delete;
    FakeLiveItem& operator=(const FakeLiveItem&) = delete;

    const VARIANT& GetReceivedValue() const override { return value_; }
    std::uint16_t GetReceivedQuality() const override { return quality_; }
    FILETIME GetReceivedTimestamp() const override { return time_; }
    VARTYPE GetCanonicalType() const override { return canonical_; }

    void SetR8(double x) {
        VariantClear(&value_);
        value_.vt = VT_R8;
        value_.dblVal = x;
    }
    void SetI4(std::int32_t x) {
        VariantClear(&value_);
        value_.vt = VT_I4;
        value_.lVal = x;
    }
    void SetBool(bool on) {
        VariantClear(&value_);
        value_.vt = VT_BOOL;
        value_.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    }
    void SetText(const char* text) {
        VariantClear(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = SysAllocStringUtf8(text);
    }
    void SetEmpty() { VariantClear(&value_); }
    VARIANT& Value() { return value_; }

    void SetTime(int y, int mo, int d, int h, int mi, int s, int ms) {
        SYSTEMTIME st;
        st.wYear = static_cast<WORD>(y);
        st.wMonth = static_cast<WORD>(mo);
        st.wDay = static_cast<WORD>(d);
        st.wHour = static_cast<WORD>(h);
        st.wMinute = static_cast<WORD>(mi);
        st.wSecond = static_cast<WORD>(s);
        st.wMilliseconds = static_cast<WORD>(ms);
        ASSERT_NE(SystemTimeToFileTime(&st, &time_), FALSE);
    }
    void SetRawTime(FILETIME ft) { time_ = ft; }
    void SetQuality(std::uint16_t q) { quality_ = q; }

  private:
    VARTYPE canonical_;
    VARIANT value_;
    std::uint16_t quality_ = 0xC0;
    FILETIME time_{};
};

std::vector<double> HistoryValues(const clBaseOPCItem& item) {
    std::vector<double> values;
    item.history.ForEach([&](const clHistorical& sample) { values.push_back(sample.value); });
    return values;
}

// The number as the display text gives it: the literal path that ReceivedNumber stands for.
double TextPath(const VARIANT& v) {
    return std::atof(VariantToText(v).c_str());
}

::testing::AssertionResult SameBits(const VARIANT& v) {
    const double fast = ReceivedNumber(v);
    const double text = TextPath(v);
    const bool same =
        std::isnan(fast) ? (std::isnan(text) && std::signbit(fast) == std::signbit(text))
                         : std::bit_cast<std::uint64_t>(fast) == std::bit_cast<std::uint64_t>(text);
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "vt " << v.vt << " text \"" << VariantToText(v) << "\": fast " << fast << " ("
           << std::hex << std::bit_cast<std::uint64_t>(fast) << ") text path " << std::dec << text
           << " (" << std::hex << std::bit_cast<std::uint64_t>(text) << ")";
}

VARIANT R8(double x) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = x;
    return v;
}

VARIANT R4(float x) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = x;
    return v;
}

}  // namespace

TEST(ApplyUpdate, NumericValueGoesThroughItsDisplayText) {
    clBaseOPCItem item;
    item.canonicalType = VT_R8;
    FakeLiveItem live(VT_R8);

    live.SetR8(1.23456);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 1.235);
    EXPECT_EQ(item.GetPropertyText("value"), "1.235");
    EXPECT_EQ(item.valueText, "");  // a numeric update leaves the text alone

    // Unsigned 32-bit values stay unsigned.
    VARIANT& v = live.Value();
    v.vt = VT_UI4;
    v.ulVal = 3000000000u;
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 3000000000.0);

    // A value that carries no number (VT_EMPTY, text without digits) reads as 0.0, scaled too.
    live.SetEmpty();
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 0.0);
    item.scaleEnabled = true;
    item.scaleType = clBaseOPCItem::scaleTypeLinear;
    item.rawMin = -10.0;
    item.rawMax = 10.0;
    item.engMin = 0.0;
    item.engMax = 100.0;
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 50.0);
    live.SetText("  12.5 units");
    item.scaleEnabled = false;
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 12.5);
}

TEST(ApplyUpdate, ScalingLinearAndFactor) {
    clBaseOPCItem item;
    item.canonicalType = VT_I4;
    FakeLiveItem live(VT_I4);
    item.scaleEnabled = true;
    item.rawMin = 0.0;
    item.rawMax = 4095.0;
    item.engMin = 0.0;
    item.engMax = 100.0;

    live.SetI4(2048);
    item.ApplyUpdate(live);
    EXPECT_DOUBLE_EQ(item.value, 2048.0 / 4095.0 * 100.0);
    EXPECT_EQ(item.GetPropertyText("value"), "50.01221");

    item.scaleType = clBaseOPCItem::scaleTypeFactor;
    item.scaleFactor = 0.5;
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 1024.0);

    // Scaling off: the raw number, whatever the settings.
    item.scaleEnabled = false;
    item.ApplyUpdate(live);
    EXPECT_EQ(item.value, 2048.0);

    // Scale itself: difference, divide, multiply, add; other scale types pass the value on.
    item.scaleType = clBaseOPCItem::scaleTypeLinear;
    item.rawMin = 1.0;
    item.rawMax = 4.0;
    item.engMin = 10.0;
    item.engMax = 11.0;
    EXPECT_EQ(item.Scale(2.0), 10.0 + (2.0 - 1.0) / (4.0 - 1.0) * (11.0 - 10.0));
    item.scaleType = 7;
    EXPECT_EQ(item.Scale(2.5), 2.5);
    // An empty raw range divides by zero; the result is stored like any other number.
    item.scaleType = clBaseOPCItem::scaleTypeLinear;
    item.rawMin = item.rawMax = 5.0;
    EXPECT_TRUE(std::isinf(item.Scale(6.0)));
    EXPECT_TRUE(std::isnan(item.Scale(5.0)));
}

TEST(ApplyUpdate, TimestampIsTakenAsUtcAndQualityAsReceived) {
    const char* const oldTz = std::getenv("TZ");
    const std::string saved = oldTz != nullptr ? oldTz : "";
    setenv("TZ", "America/New_York", 1);
    tzset();

    clBaseOPCItem item;
    item.canonicalType = VT_BSTR;
    FakeLiveItem live(VT_BSTR);
    live.SetText("x");
    live.SetQuality(0xD8);
    live.SetTime(2024, 3, 1, 12, 0, 0, 250);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.GetPropertyText("timestamp"), "2024-03-01 12:00:00.250");
    EXPECT_EQ(item.quality, 0xD8u);
    EXPECT_EQ(item.GetPropertyText("quality"), "Good");

    // A FILETIME beyond the calendar keeps the last good timestamp; the value still lands.
    live.SetRawTime(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu});
    live.SetText("y");
    live.SetQuality(0x00);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.GetPropertyText("timestamp"), "2024-03-01 12:00:00.250");
    EXPECT_EQ(item.valueText, "y ");
    EXPECT_EQ(item.GetPropertyText("quality"), "Bad");

    if (oldTz != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(ApplyUpdate, NumericHistoryRecordsChangesOnly) {
    clBaseOPCItem item;
    item.canonicalType = VT_I4;
    item.history.enabled = true;
    FakeLiveItem live(VT_I4);

    // A loaded item's last recorded value is 0.0: a first 0.0 records nothing.
    live.SetI4(0);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.history.GetCount(), 0u);

    for (const int x : {5, 5, 6}) {
        live.SetI4(x);
        item.ApplyUpdate(live);
    }
    EXPECT_EQ(HistoryValues(item), (std::vector<double>{6.0, 5.0}));
    item.history.ForEach([](const clHistorical& sample) {
        EXPECT_TRUE(sample.numeric);
        EXPECT_EQ(sample.quality, 0xC0u);
        EXPECT_EQ(sample.timestamp.Format().view(), "2024-03-01 12:00:00.250");
    });
    EXPECT_EQ(item.lastRecordedValue, 6.0);

    // NaN never equals the last value: every NaN update is a sample.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    live.SetR8(nan);
    item.ApplyUpdate(live);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.history.GetCount(), 4u);
    EXPECT_TRUE(std::isnan(item.value));

    // With history off nothing is kept, but the last recorded value still follows.
    item.history.enabled = false;
    live.SetI4(9);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.history.GetCount(), 4u);
    EXPECT_EQ(item.lastRecordedValue, 9.0);
}

TEST(ApplyUpdate, BooleanKeepsOnOffAndRecordsNonNumericSamples) {
    clBaseOPCItem item;
    item.canonicalType = VT_BOOL;
    item.history.enabled = true;
    FakeLiveItem live(VT_BOOL);

    for (const bool on : {true, true, false}) {
        live.SetBool(on);
        item.ApplyUpdate(live);
    }
    EXPECT_EQ(item.valueText, "Off");
    EXPECT_EQ(item.value, 0.0);
    EXPECT_EQ(item.GetPropertyText("value"), "Off");
    EXPECT_EQ(HistoryValues(item), (std::vector<double>{0.0, 1.0}));
    std::vector<std::string> shown;
    item.history.ForEach([&](const clHistorical& sample) {
        EXPECT_FALSE(sample.numeric);
        shown.push_back(sample.GetPropertyText("value"));
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"Off", "On"}));

    // A value of another kind on a boolean item keeps its text but leaves the number.
    live.SetI4(7);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.valueText, "7 ");
    EXPECT_EQ(item.value, 0.0);
    EXPECT_EQ(item.history.GetCount(), 2u);
}

TEST(ApplyUpdate, OtherTypesKeepTheirTextOnly) {
    clBaseOPCItem item;
    item.canonicalType = VT_BSTR;
    item.history.enabled = true;
    item.value = 3.0;
    FakeLiveItem live(VT_BSTR);
    live.SetText("hello");
    item.ApplyUpdate(live);
    EXPECT_EQ(item.valueText, "hello ");
    EXPECT_EQ(item.GetPropertyText("value"), "hello ");
    EXPECT_EQ(item.value, 3.0);
    EXPECT_EQ(item.history.GetCount(), 0u);

    // The live item's canonical type decides the path, not the variant's tag.
    live.SetR8(2.5);
    item.ApplyUpdate(live);
    EXPECT_EQ(item.valueText, "    2.500 ");
    EXPECT_EQ(item.value, 3.0);
}

TEST(ItemRecord, ScalableAndWriteCheckByTypeAndAccess) {
    clBaseOPCItem item;
    const VARTYPE numeric[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_I1, VT_UI1, VT_UI2, VT_UI4};
    const VARTYPE other[] = {VT_EMPTY, VT_CY, VT_DATE,          VT_BSTR,
                             VT_ERROR, VT_I8, VT_ARRAY | VT_R8, VT_ARRAY | VT_BSTR};
    for (const VARTYPE vt : numeric) {
        item.canonicalType = vt;
        EXPECT_TRUE(item.IsScalable()) << vt;
        EXPECT_TRUE(FakeLiveItem(vt).IsNumeric()) << vt;
        item.accessRights = 3;
        EXPECT_EQ(item.WriteCheck(), clBaseOPCItem::writeAllowed) << vt;
        item.accessRights = 1;
        EXPECT_EQ(item.WriteCheck(), clBaseOPCItem::writeReadOnly) << vt;
    }
    for (const VARTYPE vt : other) {
        item.canonicalType = vt;
        EXPECT_FALSE(item.IsScalable()) << vt;
        EXPECT_FALSE(FakeLiveItem(vt).IsNumeric()) << vt;
        EXPECT_FALSE(FakeLiveItem(vt).IsBoolean()) << vt;
        item.accessRights = 2;
        EXPECT_EQ(item.WriteCheck(), clBaseOPCItem::writeNotNumeric) << vt;
        item.accessRights = 0;
        EXPECT_EQ(item.WriteCheck(), clBaseOPCItem::writeReadOnly) << vt;
    }
    item.canonicalType = VT_BOOL;
    EXPECT_FALSE(item.IsScalable());
    EXPECT_TRUE(FakeLiveItem(VT_BOOL).IsBoolean());
    EXPECT_FALSE(FakeLiveItem(VT_BOOL).IsNumeric());
    item.accessRights = 2;
    EXPECT_EQ(item.WriteCheck(), clBaseOPCItem::writeAllowed);
}

// ReceivedNumber computes what atof of the display text gives, without the text. These compare
// it bit for bit with the literal text path.
TEST(ReceivedNumber, DoublesMatchTheTextPathBitForBit) {
    const double tricky[] = {0.0,
                             -0.0,
                             0.0625,
                             -0.0625,
                             0.1875,
                             1.0005,
                             -1.0005,
                             2.0005,
                             0.0005,
                             0.0015,
                             0.0025,
                             1.2345,
                             1.23456,
                             12.3456,
                             0.4995,
                             0.9995,
                             9.9995,
                             123.4565,
                             2.675,
                             1e-3,
                             5e-4,
                             4.9999e-4,
                             -4.9999e-4,
                             1e-300,
                             -1e-300,
                             5e-324,
                             -5e-324,
                             2.2250738585072014e-308,
                             1e-7,
                             4503599627370.4955,
                             4503599627370.496,
                             4503599627370.497,
                             4503599627370.5,
                             4.5e12,
                             4503599627.3704955,
                             9007199254740.992,
                             1e13,
                             1e15,
                             -1e15,
                             1e16,
                             1e17,
                             1e22,
                             1e300,
                             1.7976931348623157e308,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             3000000000.0005,
                             65535.4995,
                             0.3,
                             0.7,
                             123456789.0125,
                             987654.3215};
    for (const double x : tricky) {
        EXPECT_TRUE(SameBits(R8(x))) << x;
        EXPECT_TRUE(SameBits(R8(std::nextafter(x, 0.0)))) << x;
        EXPECT_TRUE(SameBits(R8(std::nextafter(x, 1e308)))) << x;
        EXPECT_TRUE(SameBits(R8(std::nextafter(x, -1e308)))) << x;
    }

    std::mt19937_64 random(20240301);
    // Exact halves of a thousandth and their neighbours, across the exact range: the ties.
    std::uniform_int_distribution<std::int64_t> halves(-9000000000000000, 9000000000000000);
    for (int i = 0; i < 20000; ++i) {
        const double tie = static_cast<double>(halves(random) | 1) / 2000.0;
        EXPECT_TRUE(SameBits(R8(tie)));
        EXPECT_TRUE(SameBits(R8(std::nextafter(tie, 0.0))));
        EXPECT_TRUE(SameBits(R8(std::nextafter(tie, 1e300))));
    }
    // Dyadic values with few fraction bits are exact ties much more often.
    std::uniform_int_distribution<std::int64_t> small(-100000000, 100000000);
    for (int i = 0; i < 20000; ++i) {
        const double dyadic = std::ldexp(static_cast<double>(small(random)), -(i % 12));
        EXPECT_TRUE(SameBits(R8(dyadic)));
    }
    // Any bit pattern at all: every magnitude, subnormals, NaNs and infinities.
    for (int i = 0; i < 50000; ++i) {
        EXPECT_TRUE(SameBits(R8(std::bit_cast<double>(random()))));
    }
    // Ordinary process values.
    std::uniform_real_distribution<double> plain(-1e6, 1e6);
    for (int i = 0; i < 50000; ++i) {
        EXPECT_TRUE(SameBits(R8(plain(random))));
    }
    // Magnitudes around the edge of the exact range.
    std::uniform_real_distribution<double> edge(4.0e12, 5.0e12);
    for (int i = 0; i < 20000; ++i) {
        const double x = edge(random);
        EXPECT_TRUE(SameBits(R8(x)));
        EXPECT_TRUE(SameBits(R8(-x)));
    }
}

TEST(ReceivedNumber, FloatsAndIntegersMatchTheTextPath) {
    std::mt19937 random(7);
    for (int i = 0; i < 50000; ++i) {
        EXPECT_TRUE(SameBits(R4(std::bit_cast<float>(static_cast<std::uint32_t>(random())))));
    }
    const float floats[] = {0.0f,          -0.0f,  0.0625f,     1.0005f, 1.5f, -2.5e-4f,
                            3.4028235e38f, 1e-45f, 16777216.0f, 4.5e12f, 5e12f};
    for (const float f : floats) {
        EXPECT_TRUE(SameBits(R4(f))) << f;
    }

    VARIANT v;
    VariantInit(&v);
    for (int x = -128; x <= 255; ++x) {
        v.vt = VT_I1;
        v.cVal = static_cast<CHAR>(x);
        EXPECT_TRUE(SameBits(v));
        v.vt = VT_UI1;
        v.bVal = static_cast<BYTE>(x);
        EXPECT_TRUE(SameBits(v));
    }
    for (std::int32_t x = -32768; x <= 65535; x += 7) {
        v.vt = VT_I2;
        v.iVal = static_cast<SHORT>(x);
        EXPECT_TRUE(SameBits(v));
        v.vt = VT_UI2;
        v.uiVal = static_cast<USHORT>(x);
        EXPECT_TRUE(SameBits(v));
    }
    const std::uint32_t words[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 3000000000u, 0xFFFFFFFFu};
    for (const std::uint32_t w : words) {
        v.vt = VT_I4;
        v.ulVal = w;
        EXPECT_TRUE(SameBits(v));
        v.vt = VT_UI4;
        EXPECT_TRUE(SameBits(v));
    }
    for (int i = 0; i < 20000; ++i) {
        v.vt = VT_I4;
        v.ulVal = static_cast<std::uint32_t>(random());
        EXPECT_TRUE(SameBits(v));
        v.vt = VT_UI4;
        EXPECT_TRUE(SameBits(v));
    }
    // Types without a shortcut go through their text.
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(ReceivedNumber(v), 0.0);
    v.vt = VT_CY;
    v.cyVal.int64 = 15000;
    EXPECT_EQ(ReceivedNumber(v), 1.5);
    v.vt = VT_ERROR;
    EXPECT_EQ(ReceivedNumber(v), 0.0);
}
