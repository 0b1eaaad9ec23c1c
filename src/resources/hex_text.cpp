// SPDX-License-Identifier: MIT
#include "resources/hex_text.h"

namespace brivelton {

std::optional<int> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

char HexDigit(int value) {
  if (value >= 0 && value <= 9) return static_cast<char>('0' + value);
  if (value >= 10 && value <= 15) return static_cast<char>('A' + value - 10);
  return '0';
}

std::optional<uint32_t> ParseVersionText(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.empty() || text.size() > 3) return std::nullopt;
  uint32_t version = 0;
  for (char c : text) {
    const std::optional<int> digit = HexDigitValue(c);
    if (!digit) return std::nullopt;
    version = version * 16 + static_cast<uint32_t>(*digit);
  }
  return version;
}

}  // namespace brivelton
