// SPDX-License-Identifier: MIT
#include "app/window_args.h"

#include "app/command_line.h"

namespace brivelton {

namespace {

bool SetHelp(WindowArgs& a, const std::string&, std::string&) { return a.help = true; }
bool SetVersion(WindowArgs& a, const std::string&, std::string&) { return a.version = true; }

constexpr Option<WindowArgs> kWindowOptions[] = {
    PortOption<WindowArgs>("look for the adapter on this serial port only (repeatable),\n"
                           "for example the terminal that brivelton-sim prints;\n"
                           "without it the system's serial ports are searched"),
    ImagePathOption<WindowArgs>("update with the firmware image in FILE (exactly 512000\n"
                                "bytes) in place of the built-in one; needs --image-version"),
    ImageVersionOption<WindowArgs>("the version of that image (204 is 2.04)"),
    {"--version", nullptr, nullptr, OptionValue::kNone, nullptr, SetVersion,
     "the program's version and the built-in firmware's"},
    {"--help", "-h", nullptr, OptionValue::kNone, nullptr, SetHelp, "this text"},
};

std::string Usage() {
  return "usage: brivelton-utility [--port NAME]... [--image FILE --image-version HEX]\n" +
         OptionLines<WindowArgs>(kWindowOptions, 23);
}

// The window takes no operands: whatever follows "--" is unexpected too.
std::string Unexpected(const std::string& arg) {
  std::vector<std::string> shown;
  for (const auto& o : kWindowOptions) shown.push_back(Shown(o));
  return "unexpected argument '" + arg + "'; accepted: " + ListInWords(shown, ", ");
}

}  // namespace

bool ParseWindowArgs(const std::vector<std::string>& given, WindowArgs& out, std::string& error) {
  out = WindowArgs{};
  return TakeOptions<WindowArgs>(kWindowOptions, given, out, error, {Unexpected}) &&
         CheckImageOptions(out.image, error);
}

std::span<const Option<WindowArgs>> WindowOptionTable() { return kWindowOptions; }

const char* WindowUsage() {
  static const std::string usage = Usage();
  return usage.c_str();
}

}  // namespace brivelton
