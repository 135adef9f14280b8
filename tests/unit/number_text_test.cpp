#include "dialog/number_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

using quarvel::format_signed_decimal;
using quarvel::format_unsigned_decimal;
using quarvel::parse_field_number;

TEST(NumberText, SignedDecimalHasNoPaddingAndKeepsTheSign) {
    EXPECT_EQ(std::wstring(format_signed_decimal(0).c_str()), L"0");
    EXPECT_EQ(std::wstring(format_signed_decimal(7).c_str()), L"7");
    EXPECT_EQ(std::wstring(format_signed_decimal(-250).c_str()), L"-250");
    EXPECT_EQ(std::wstring(format_signed_decimal(1000000).c_str()), L"1000000");
    EXPECT_EQ(std::wstring(format_signed_decimal(std::numeric_limits<int32_t>::max()).c_str()),
              L"2147483647");
    EXPECT_EQ(std::wstring(format_signed_decimal(std::numeric_limits<int32_t>::min()).c_str()),
              L"-2147483648");
    EXPECT_EQ(std::wstring(format_unsigned_decimal(4294967291u).c_str()), L"4294967291");
}

TEST(NumberText, FieldNumbers) {
    EXPECT_EQ(parse_field_number(L""), 0);
    EXPECT_EQ(parse_field_number(L"abc"), 0);
    EXPECT_EQ(parse_field_number(L"  42"), 42);
    EXPECT_EQ(parse_field_number(L"0012"), 12);
    EXPECT_EQ(parse_field_number(L"12abc"), 12);
    EXPECT_EQ(parse_field_number(L"-0"), 0);
    EXPECT_EQ(parse_field_number(L"2147483647"), 2147483647);
    EXPECT_EQ(parse_field_number(L"000000000000000000002147483647"), 2147483647);
}

TEST(NumberText, FieldNumbersAboveTheLargestTimeAreFlagged) {
    EXPECT_EQ(parse_field_number(L"2147483648"), std::nullopt);
    EXPECT_EQ(parse_field_number(L"4294967294"), std::nullopt);
    EXPECT_EQ(parse_field_number(L"99999999999999999999999999"), std::nullopt);
    EXPECT_EQ(parse_field_number(L"-2"), std::nullopt);
    EXPECT_EQ(parse_field_number(L"-2147483648"), std::nullopt);
}
