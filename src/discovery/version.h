#pragma once
// Reading the three version digits the running firmware reports.

namespace brivelton {

// '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, anything else 0.
int HexValue(char c);

// The three characters read as one hexadecimal number, 0x000 to 0xFFF.
int ParseVersion3(char c0, char c1, char c2);

}  // namespace brivelton
