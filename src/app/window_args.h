// SPDX-License-Identifier: MIT
#pragma once
// The command line of the window, the same for Linux and Windows:
// [--port NAME]... [--image FILE --image-version HEX]
#include <span>
#include <string>
#include <vector>

#include "resources/firmware_file.h"

namespace brivelton {

struct WindowArgs {
  std::vector<std::string> ports;  // empty: the system's own port list
  bool help = false;
  bool version = false;
  ImageOptions image;              // none: the built-in image
};

// `args` without the program name (and without a toolkit's own options).
// False with a one-line message in `error` for anything else.
bool ParseWindowArgs(const std::vector<std::string>& args, WindowArgs& out, std::string& error);

// The --help text.
const char* WindowUsage();

// The options, each once, for the manual page.
template <class Args> struct Option;
std::span<const Option<WindowArgs>> WindowOptionTable();

}  // namespace brivelton
