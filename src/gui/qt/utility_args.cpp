#include "gui/qt/utility_args.h"

namespace brivelton::qt {

bool ParseUtilityArgs(const std::vector<std::string>& args, UtilityArgs& out,
                      std::string& error) {
  out = UtilityArgs{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name;
    if (arg == "--help" || arg == "-h") {
      out.help = true;
      continue;
    }
    if (TakeImageOption(args, i, out.image, error)) {
      if (!error.empty()) return false;
      continue;
    }
    if (arg == "--port") {
      if (i + 1 >= args.size()) {
        error = "--port needs a port name";
        return false;
      }
      name = args[++i];
    } else if (arg.rfind("--port=", 0) == 0) {
      name = arg.substr(7);
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
    if (name.empty()) {
      error = "--port needs a port name";
      return false;
    }
    out.ports.push_back(name);
  }
  return CheckImageOptions(out.image, error);
}

const char* UtilityUsage() {
  return "usage: brivelton-utility [--port NAME]... [--image FILE --image-version HEX]\n"
         "  --port NAME  look for the adapter on this serial port only (repeatable),\n"
         "               for example the terminal that brivelton-sim prints;\n"
         "               without it the system's serial ports are searched\n"
         "  --image FILE --image-version HEX\n"
         "               update with the firmware image in FILE (exactly 512000\n"
         "               bytes) of version HEX (204 is 2.04) in place of the\n"
         "               built-in one\n";
}

}  // namespace brivelton::qt
