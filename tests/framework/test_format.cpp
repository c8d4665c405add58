#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "com/hresult.h"
#include "framework/format.h"

TEST(Format, HresultPrintsAsItsThirtyTwoBitsInLowerCaseHex) {
    EXPECT_EQ(Format("Error from AddGroup (%lx)\n", HrArg(E_FAIL)),
              "Error from AddGroup (80004005)\n");
    EXPECT_EQ(Format("Erorr from Next(%lx)", HrArg(MAKE_HRESULT_VALUE(0xC0040007))),
              "Erorr from Next(c0040007)");
    EXPECT_EQ(Format("Error from AddItems %s (error %lx)", "Random.Int4", HrArg(S_FALSE)),
              "Error from AddItems Random.Int4 (error 1)");
}

TEST(Format, FollowsPrintfRulesAtAnyLength) {
    EXPECT_EQ(Format("%d|%5.2f|%-3s|%%|%c", -42, 3.14159, "ab", 'x'), "-42| 3.14|ab |%|x");
    EXPECT_EQ(Format("OnWriteComplete: Transid=%ld count=%ld GrpHandle=%ld\n", 4112L, 1L, 0L),
              "OnWriteComplete: Transid=4112 count=1 GrpHandle=0\n");

    // Longer than any first-try buffer: nothing may be cut off.
    const std::string longName(5000, 'n');
    const std::string text = Format("<%s>", longName.c_str());
    ASSERT_EQ(text.size(), longName.size() + 2);
    EXPECT_EQ(text.front(), '<');
    EXPECT_EQ(text.back(), '>');
    EXPECT_EQ(text.substr(1, longName.size()), longName);

    EXPECT_EQ(Format("%s", ""), "");
}

namespace {
// Passes its arguments on as a va_list, the way Trace does.
std::string ViaList(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = FormatV(fmt, args);
    va_end(args);
    return text;
}
}  // namespace

TEST(Format, VaListFormAndNullFormat) {
    EXPECT_EQ(ViaList("%s=%lx", "hr", HrArg(E_NOINTERFACE)), "hr=80004002");
    EXPECT_EQ(ViaList(nullptr), "");
}
