#include "initfiles/number_scan.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ScanHexFieldTest, FourDigitValueLines) {
    EXPECT_EQ(ScanHexField("1234", 4), 0x1234u);
    EXPECT_EQ(ScanHexField("12345", 4), 0x1234u);
    EXPECT_EQ(ScanHexField("0x00ff", 4), 0x00FFu);  // the prefix is not one of the four
    EXPECT_EQ(ScanHexField("0X1234", 4), 0x1234u);
    EXPECT_EQ(ScanHexField("  00FF", 4), 0x00FFu);
    EXPECT_EQ(ScanHexField("\t0010 trailing text", 4), 0x0010u);
    EXPECT_EQ(ScanHexField("Bus width", 4), 0xBu);
    EXPECT_EQ(ScanHexField("abcd", 4), 0xABCDu);
    EXPECT_EQ(ScanHexField("0", 4), 0u);
}

TEST(ScanHexFieldTest, NoNumber) {
    EXPECT_EQ(ScanHexField("", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("   ", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("0x", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("0xg1", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("; comment", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("-", 4), std::nullopt);
    EXPECT_EQ(ScanHexField("+ 12", 4), std::nullopt);
}

TEST(ScanHexFieldTest, SignCountsAsOneCharacter) {
    EXPECT_EQ(ScanHexField("+1234", 4), 0x123u);
    EXPECT_EQ(ScanHexField("-1", 4).value() & 0xFFFF, 0xFFFFu);
    EXPECT_EQ(ScanHexField("-1234", 4).value() & 0xFFFF, 0xFEDDu);  // -0x123
    EXPECT_EQ(ScanHexField("-0x1234", 4).value() & 0xFFFF, 0xFEDDu);
}

TEST(ScanHexFieldTest, EightDigitAddress) {
    EXPECT_EQ(ScanHexField("80000000", 8), 0x80000000u);
    EXPECT_EQ(ScanHexField("FFFFFFFF", 8), 0xFFFFFFFFu);
    EXPECT_EQ(ScanHexField("0x123456789", 8), 0x12345678u);
    EXPECT_EQ(ScanHexField("-1", 8), 0xFFFFFFFFu);
    EXPECT_EQ(ScanHexField("+123456789", 8), 0x1234567u);
}

TEST(ProjectNumberTest, PrefixedHexAndDecimal) {
    EXPECT_EQ(ScanPrefixedHex("0x1A2B"), 0x1A2Bu);
    EXPECT_EQ(ScanPrefixedHex("0xfedcba98"), 0xFEDCBA98u);
    EXPECT_EQ(ScanPrefixedHex("1A2B"), 0u);
    EXPECT_EQ(ScanPrefixedHex("0X1A2B"), 0u);
    EXPECT_EQ(ScanPrefixedHex("0x"), 0u);
    EXPECT_EQ(ScanPrefixedHex("0x12zz"), 0x12u);

    EXPECT_EQ(ScanDecimal("-4"), -4);
    EXPECT_EQ(ScanDecimal("  +17"), 17);
    EXPECT_EQ(ScanDecimal("12abc"), 12);
    EXPECT_EQ(ScanDecimal("abc"), 0);
    EXPECT_EQ(ScanDecimal(""), 0);
    EXPECT_EQ(ScanDecimal("4294967295"), -1);  // kept modulo 2^32
}

}  // namespace
}  // namespace quillon
