// SPDX-License-Identifier: MIT
#pragma once
// The command line of the window, the same for Linux and Windows:
// [--port NAME]... [--image FILE --image-version HEX]
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"
#include "resources/firmware_file.h"

namespace brivelton {

struct WindowArgs {
  std::vector<std::string> ports;  // empty: the system's own port list
  bool help = false;
  bool version = false;
  ImageOptions image;              // none: the built-in image
};

// `args` without the program name (and without a toolkit's own options).
// A one-line message for anything else.
Result<WindowArgs> ParseWindowArgs(const std::vector<std::string>& args);

// The --help text.
const char* WindowUsage();

// The options, each once, for the manual page.
template <class Args> struct Option;
std::span<const Option<WindowArgs>> WindowOptionTable();

}  // namespace brivelton
