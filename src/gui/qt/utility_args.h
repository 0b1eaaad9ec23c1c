#pragma once
// The command line of brivelton-utility: [--port NAME]... [--image FILE --image-version HEX]
#include <string>
#include <vector>

#include "resources/firmware_file.h"

namespace brivelton::qt {

struct UtilityArgs {
  std::vector<std::string> ports;  // empty: the system's own port list
  bool help = false;
  ImageOptions image;              // none: the built-in image
};

// `args` without the program name (and without Qt's own options). False with
// a one-line message in `error` for anything else.
bool ParseUtilityArgs(const std::vector<std::string>& args, UtilityArgs& out,
                      std::string& error);

const char* UtilityUsage();

}  // namespace brivelton::qt
