// SPDX-License-Identifier: MIT
#pragma once
// Reading the three version digits the running firmware reports.

namespace brivelton {

// The three characters read as one hexadecimal number, 0x000 to 0xFFF; a
// character that is no digit counts as 0.
int ParseVersion3(char c0, char c1, char c2);

}  // namespace brivelton
