#include "sim/sim_time.h"

#include <gtest/gtest.h>

#include "com/oledate.h"

namespace {

TEST(SimTime, EpochIsNewYear2026Utc) {
    SYSTEMTIME st;
    const FILETIME start = SimFileTime(0);
    ASSERT_TRUE(FileTimeToSystemTime(&start, &st));
    EXPECT_EQ(st.wYear, 2026);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wMinute, 0);
    EXPECT_EQ(st.wSecond, 0);

    const FILETIME later = SimFileTime(90061001);  // 1 day, 1 h, 1 min, 1.001 s
    ASSERT_TRUE(FileTimeToSystemTime(&later, &st));
    EXPECT_EQ(st.wDay, 2);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 1);
    EXPECT_EQ(st.wSecond, 1);
    EXPECT_EQ(st.wMilliseconds, 1);
}

TEST(SimTime, UpdateRatesAreRevisedToSupportedOnes) {
    EXPECT_EQ(ReviseUpdateRate(0), kFastestUpdateRate);
    EXPECT_EQ(ReviseUpdateRate(1), kFastestUpdateRate);
    EXPECT_EQ(ReviseUpdateRate(100), 100u);
    EXPECT_EQ(ReviseUpdateRate(1000), 1000u);
    EXPECT_EQ(ReviseUpdateRate(1001), 1010u);
    EXPECT_EQ(ReviseUpdateRate(0xFFFFFFFF), kSlowestUpdateRate);
    EXPECT_EQ(ReviseUpdateRate(kSlowestUpdateRate - 1), kSlowestUpdateRate);
}

}  // namespace
