// SPDX-License-Identifier: MIT
#pragma once
// Hexadecimal digits and the three-digit versions written with them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace brivelton {

// '0'-'9', 'a'-'f' and 'A'-'F' give 0-15; anything else none.
std::optional<int> HexDigitValue(char c);

// 0-9 give '0'-'9', 10-15 give 'A'-'F', anything else '0'.
char HexDigit(int value);

// "204", "0x204", "1ff": one to three hexadecimal digits, 0x optional.
std::optional<uint32_t> ParseVersionText(std::string_view text);

}  // namespace brivelton
