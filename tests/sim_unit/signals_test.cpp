#include "sim/signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>

#include "sim/owned_variant.h"

namespace {

OwnedVariant At(SignalKind kind, std::uint64_t ms, std::uint32_t seed = 1,
                std::uint32_t index = 0) {
    OwnedVariant v;
    EXPECT_EQ(EvaluateSignal(kind, ms, seed, index, v.Ptr()), S_OK);
    EXPECT_EQ(v.Type(), SignalType(kind));
    return v;
}

TEST(Signals, ValuesFollowTheSimulatedTime) {
    EXPECT_EQ(At(SignalKind::Ramp, 0).Get().dblVal, 0.0);
    EXPECT_EQ(At(SignalKind::Ramp, 42500).Get().dblVal, 42.5);
    EXPECT_EQ(At(SignalKind::Ramp, 99999).Get().dblVal, 99.999);
    EXPECT_EQ(At(SignalKind::Ramp, 100000).Get().dblVal, 0.0);  // wraps at 100
    EXPECT_EQ(At(SignalKind::Ramp, 101000).Get().dblVal, 1.0);

    EXPECT_NEAR(At(SignalKind::Sine, 2500).Get().dblVal, 10.0, 1e-12);
    EXPECT_NEAR(At(SignalKind::Sine, 7500).Get().dblVal, -10.0, 1e-12);
    EXPECT_NEAR(At(SignalKind::Sine, 10000).Get().dblVal, 0.0, 1e-12);

    EXPECT_EQ(At(SignalKind::Square, 4999).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(At(SignalKind::Square, 5000).Get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(At(SignalKind::Square, 10000).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(At(SignalKind::Toggle, 999).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(At(SignalKind::Toggle, 1000).Get().boolVal, VARIANT_TRUE);

    EXPECT_EQ(At(SignalKind::Counter, 0).Get().ulVal, 0u);
    EXPECT_EQ(At(SignalKind::Counter, 12999).Get().ulVal, 12u);

    EXPECT_EQ(BstrView(At(SignalKind::Text, 0).Get().bstrVal), u"Alpha");
    EXPECT_EQ(BstrView(At(SignalKind::Text, 2000).Get().bstrVal), u"Beta");
    EXPECT_EQ(BstrView(At(SignalKind::Text, 5999).Get().bstrVal), u"Gamma");
    EXPECT_EQ(BstrView(At(SignalKind::Text, 6000).Get().bstrVal), u"Delta");
    EXPECT_EQ(BstrView(At(SignalKind::Text, 8000).Get().bstrVal), u"Alpha");

    EXPECT_NEAR(At(SignalKind::Temperature, 15000).Get().dblVal, 25.0, 1e-12);
    EXPECT_NEAR(At(SignalKind::Pressure, 0).Get().fltVal, 1013.25f, 1e-3);

    EXPECT_EQ(At(SignalKind::Load, 1500, 1, 0).Get().dblVal, 1.5);
    EXPECT_EQ(At(SignalKind::Load, 1500, 1, 9999).Get().dblVal, 10000.5);
}

TEST(Signals, RandomIsRepeatableAndSpread) {
    std::set<std::int32_t> seen;
    for (std::uint64_t ms = 0; ms < 100000; ms += 100) {
        const std::int32_t value = At(SignalKind::Random, ms, 7).Get().lVal;
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 999);
        EXPECT_EQ(value, RandomSignalValue(7, ms));
        seen.insert(value);
    }
    // 1000 draws from 1000 values: a fair generator hits well over half of them.
    EXPECT_GT(seen.size(), 550u);
    // The seed matters.
    int same = 0;
    for (std::uint64_t ms = 0; ms < 1000; ms += 10) {
        same += RandomSignalValue(1, ms) == RandomSignalValue(2, ms) ? 1 : 0;
    }
    EXPECT_LT(same, 10);
    // Consecutive updates give new values (a repeat is a 1 in 1000 event).
    int repeats = 0;
    for (std::uint64_t ms = 100; ms < 100000; ms += 100) {
        repeats += RandomSignalValue(1, ms) == RandomSignalValue(1, ms - 100) ? 1 : 0;
    }
    EXPECT_LT(repeats, 10);
}

TEST(Signals, StaticIsNoSignal) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_TRUE(FAILED(EvaluateSignal(SignalKind::Static, 0, 1, 0, &v)));
    EXPECT_EQ(SignalType(SignalKind::Static), VT_EMPTY);
}

}  // namespace
