// SPDX-License-Identifier: MIT
// Hexadecimal digits both ways, and the versions the firmware files and the
// simulator are given.
#include "resources/hex_text.h"

#include <gtest/gtest.h>

#include <string>

namespace brivelton {
namespace {

TEST(HexText, DigitValuesOfEitherCaseAndNothingElse) {
  const std::string digits = "0123456789abcdefABCDEF";
  const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                        12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); ++i)
    EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << digits[i];
  for (char c : std::string("gGxX /:@`\0\xff", 12))
    EXPECT_EQ(HexDigitValue(c), std::nullopt) << int(c);
}

TEST(HexText, DigitsAreUpperCase) {
  const std::string digits = "0123456789ABCDEF";
  for (int v = 0; v < 16; ++v) EXPECT_EQ(HexDigit(v), digits[static_cast<size_t>(v)]);
  for (int v : {-1, 16, 255}) EXPECT_EQ(HexDigit(v), '0');
}

TEST(HexText, VersionIsOneToThreeHexDigits) {
  const std::pair<const char*, std::optional<uint32_t>> cases[] = {
      {"204", 0x204}, {"0x1ff", 0x1FF}, {"0X2A", 0x2A}, {"F", 0xF}, {"000", 0},
      {"", std::nullopt}, {"0x", std::nullopt}, {"1234", std::nullopt},
      {"2.04", std::nullopt}, {"g1", std::nullopt}, {"-1", std::nullopt},
      {" 204", std::nullopt}, {"0x0204", std::nullopt}, {"20h", std::nullopt},
  };
  for (const auto& [text, version] : cases) EXPECT_EQ(ParseVersionText(text), version) << text;
}

}  // namespace
}  // namespace brivelton
