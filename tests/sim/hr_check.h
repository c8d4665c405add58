#pragma once
// Test assertions on result codes that print them the way they are read: in hexadecimal, with
// their names.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/hresult.h"

namespace conformance {

// "0x80070057 E_INVALIDARG"; only the hexadecimal form for a code without a known name.
std::string HrText(HRESULT hr);
std::string HrListText(const std::vector<HRESULT>& codes);

::testing::AssertionResult HrEqual(const char* actualText, const char* expectedText, HRESULT actual,
                                   HRESULT expected);
::testing::AssertionResult HrListEqual(const char* actualText, const char* expectedText,
                                       const std::vector<HRESULT>& actual,
                                       const std::vector<HRESULT>& expected);

}  // namespace conformance

#define EXPECT_HR(actual, expected) EXPECT_PRED_FORMAT2(::conformance::HrEqual, actual, expected)
#define ASSERT_HR(actual, expected) ASSERT_PRED_FORMAT2(::conformance::HrEqual, actual, expected)
#define EXPECT_HRS(actual, ...) \
    EXPECT_PRED_FORMAT2(::conformance::HrListEqual, actual, (std::vector<HRESULT>{__VA_ARGS__}))
