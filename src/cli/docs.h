#pragma once
// What is installed beside `brivelton`, made from the command line's own
// tables and help text so that neither can drift from what the tool accepts.
#include <string>

namespace brivelton::cli {

// The bash completion script.
std::string BashCompletion();

// The manual page brivelton(1): the --help text, section by section.
std::string ManPage(const std::string& version);

}  // namespace brivelton::cli
