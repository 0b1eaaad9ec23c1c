// SPDX-License-Identifier: MIT
#pragma once
// What the file stores of every system share.
#include <functional>
#include <string>

namespace brivelton::state_files {

// Why a file is refused, as Read says it.
inline constexpr char kLink[] = "a symbolic link, not followed";
inline constexpr char kNotRegular[] = "not a regular file";
std::string TooLarge();

// A fresh name beside `name` for the file that replaces it, another on every
// call and in every process, so that it can be created exclusively.
std::string TempName(const std::string& name);
// Exactly a name TempName gives: "<name>.<16 hexadecimal digits>.tmp".
bool IsOwnTemp(const std::string& name);
// Creates the replacement of `name` under a fresh name: `try_create` is given
// one, and another while it answers that the name was taken (a few times at
// most: a name that is taken is rare).
void CreateUnderFreshName(const std::string& name,
                          const std::function<bool(const std::string& fresh)>& try_create);
// How old a replacement must be before it counts as left behind.
inline constexpr int kStaleTempSeconds = 60;

}  // namespace brivelton::state_files
