// SPDX-License-Identifier: MIT
#include "app/window_args.h"

#include "app/command_line.h"

namespace brivelton {

namespace {

Result<void> SetHelp(WindowArgs& a, const std::string&) {
  a.help = true;
  return {};
}
Result<void> SetVersion(WindowArgs& a, const std::string&) {
  a.version = true;
  return {};
}

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

}  // namespace

Result<WindowArgs> ParseWindowArgs(const std::vector<std::string>& given) {
  WindowArgs out;
  std::vector<std::string> args;
  size_t operands_from = 0;
  ExpandOptionForms<WindowArgs>(kWindowOptions, given, args, operands_from);
  for (size_t i = 0; i < args.size(); ++i) {
    // The window takes no operands: whatever follows "--" is unexpected.
    const Option<WindowArgs>* option =
        i < operands_from ? FindOption<WindowArgs>(kWindowOptions, args[i]) : nullptr;
    if (!option) {
      std::vector<std::string> shown;
      for (const auto& o : kWindowOptions) shown.push_back(Shown(o));
      return Error("unexpected argument '" + args[i] + "'; accepted: " + ListInWords(shown, ", "));
    }
    if (auto taken = TakeOption(*option, args, i, out); !taken) return taken.error();
  }
  if (auto checked = CheckImageOptions(out.image); !checked) return checked.error();
  return out;
}

std::span<const Option<WindowArgs>> WindowOptionTable() { return kWindowOptions; }

const char* WindowUsage() {
  static const std::string usage = Usage();
  return usage.c_str();
}

}  // namespace brivelton
