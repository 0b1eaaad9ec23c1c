// SPDX-License-Identifier: MIT
#pragma once
// What the file stores of every system share.
#include <string>

namespace brivelton::state_files {

// Why a file is refused, as Read says it.
inline constexpr char kLink[] = "a symbolic link, not followed";
inline constexpr char kNotRegular[] = "not a regular file";
std::string TooLarge();

// A fresh name beside `name` for the file that replaces it, another on every
// call and in every process, so that it can be created exclusively.
std::string TempName(const std::string& name);
bool IsTemp(const std::string& name);
// Exactly a name TempName gives: "<name>.<16 hexadecimal digits>.tmp".
bool IsOwnTemp(const std::string& name);
// How old a replacement must be before it counts as left behind.
inline constexpr int kStaleTempSeconds = 60;

}  // namespace brivelton::state_files
