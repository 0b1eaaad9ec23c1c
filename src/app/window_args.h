// SPDX-License-Identifier: MIT
#pragma once
// The command line of the window, the same for Linux and Windows:
// [--port NAME]... [--image FILE --image-version HEX]
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

}  // namespace brivelton
