// SPDX-License-Identifier: MIT
#pragma once
// What is installed beside `brivelton`, made from the command line's own
// tables and help text so that neither can drift from what the tool accepts.
#include <string>

namespace brivelton::cli {

// The bash completion script.
std::string BashCompletion();

// The manual page brivelton(1): commands and options from the tables, the
// rest from the --help text's prose, filled to the reader's width.
std::string ManPage(const std::string& version);

// The manual page brivelton-utility(1), from the window's table.
std::string UtilityManPage(const std::string& version);

}  // namespace brivelton::cli
