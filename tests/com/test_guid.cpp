#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "com/guid.h"
#include "com/unknown.h"

namespace {

constexpr GUID kSample{
    0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

TEST(Guid, PrintsUpperCaseBracedAndParsesBack) {
    EXPECT_EQ(GuidToString(kSample), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");

    const auto lower = GuidFromString("{39c13a4d-011e-11d0-9675-0020afd8adb3}");
    ASSERT_TRUE(lower);
    EXPECT_EQ(*lower, kSample);

    // Every bit of every field survives the round trip.
    const GUID ones{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    const GUID mixed{0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    for (const GUID& g : {ones, mixed, GUID_NULL, kSample}) {
        const auto back = GuidFromString(GuidToString(g));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, g);
    }
}

TEST(Guid, RefusesEverythingButTheBracedForm) {
    const char* const bad[] = {
        "",
        "39C13A4D-011E-11D0-9675-0020AFD8ADB3",     // no braces
        "{39C13A4D-011E-11D0-9675-0020AFD8ADB3",    // no closing brace
        "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}x",  // trailing text
        " {39C13A4D-011E-11D0-9675-0020AFD8ADB3}",  // leading space
        "{39C13A4D011E-11D0-9675-0020AFD8ADB3-}",   // dash misplaced
        "{39C13A4G-011E-11D0-9675-0020AFD8ADB3}",   // not hex
        "{39C13A4D-011E-11D0-96 5-0020AFD8ADB3}",   // space inside
        "{+9C13A4D-011E-11D0-9675-0020AFD8ADB3}",   // sign
        "{39C13A4D-011E-11D0-9675-0020AFD8ADB}",    // one digit short
        "(39C13A4D-011E-11D0-9675-0020AFD8ADB3)",   // wrong brackets
        "Tagvista.Simulator.1",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(GuidFromString(text)) << text;
    }
}

TEST(Guid, WideFormsAndTheirLimits) {
    OLECHAR buf[39];
    ASSERT_EQ(StringFromGUID2(kSample, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
    OLECHAR small[38] = {u'x'};
    EXPECT_EQ(StringFromGUID2(kSample, small, 38), 0);
    EXPECT_EQ(small[0], u'x');
    EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(u"{39c13a4d-011e-11d0-9675-0020afd8adb3}", &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);
    clsid = kSample;
    EXPECT_EQ(CLSIDFromString(u"Tagvista.Simulator.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, GUID_NULL);
    EXPECT_EQ(CLSIDFromString(u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}}", &clsid),
              CO_E_CLASSSTRING);
    // A non-ASCII character that would narrow to a valid digit is refused.
    EXPECT_EQ(CLSIDFromString(u"{39C13A4D-011E-11D0-9675-0020AFD8ADB\u0133}", &clsid),
              CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}", nullptr), E_INVALIDARG);
}

TEST(Guid, EqualityAndHashLookAtEveryByte) {
    std::unordered_set<GUID, GuidHash> seen;
    seen.insert(kSample);
    for (int byte = 0; byte < 8; ++byte) {
        GUID g = kSample;
        g.Data4[byte] ^= 1;
        EXPECT_NE(g, kSample);
        EXPECT_FALSE(IsEqualGUID(g, kSample));
        seen.insert(g);
    }
    GUID g = kSample;
    g.Data3 ^= 0x100;
    EXPECT_NE(g, kSample);
    seen.insert(g);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_TRUE(seen.contains(kSample));
}

}  // namespace
