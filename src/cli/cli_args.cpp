#include "cli/cli_args.h"

#include <array>

#include "params/settings_data.h"
#include "update/identity_journal.h"

namespace brivelton::cli {

namespace {

constexpr const char* kOnOff[] = {"off", "on"};
constexpr const char* kDialPlans[] = {"with-timeout", "without-timeout", "hash-key"};
constexpr const char* kOffHookPowers[] = {"low", "medium", "high", "strong", "strongest"};
constexpr const char* kHookSpeeds[] = {"30ms", "50ms", "70ms", "100ms"};

constexpr SettingName kSettingNames[] = {
    {"caller-id", kIdCallerId, kOnOff},
    {"echo-cancel", kIdEchoCancel, kOnOff},
    {"media-audio", kIdMediaAudio, kOnOff},
    {"dialtone-after-disconnect", kIdDialtoneDis, kOnOff},
    {"reverse-tip-ring", kIdReverseDis, kOnOff},
    {"strong-ringing", kIdStrongRing, kOnOff},
    {"led-debug", kIdLedDisplay, kOnOff},
    {"dial-plan", kIdDialPlan, kDialPlans},
    {"offhook-power", kIdOffHookPower, kOffHookPowers},
    {"hook-speed", kIdHookSpeed, kHookSpeeds},
};

struct CommandName {
  const char* name;
  Command command;
};
constexpr CommandName kCommands[] = {
    {"check", Command::kCheck},
    {"update", Command::kUpdate},
    {"identity", Command::kIdentity},
    {"settings", Command::kSettings},
    {"settings-help", Command::kSettingsHelp},
    {"firmware", Command::kFirmware},
    {"ports", Command::kPorts},
    {"help", Command::kHelp},
};

std::string Joined(std::span<const char* const> words, const char* separator) {
  std::string text;
  for (const char* word : words) {
    if (!text.empty()) text += separator;
    text += word;
  }
  return text;
}

std::string CommandList() {
  std::string text;
  for (const auto& c : kCommands) {
    if (!text.empty()) text += ", ";
    text += c.name;
  }
  return text;
}

std::string SettingList() {
  std::string text;
  for (const auto& s : kSettingNames) {
    if (!text.empty()) text += ", ";
    text += s.name;
  }
  return text;
}

const SettingName* FindSetting(const std::string& name) {
  for (const auto& s : kSettingNames)
    if (name == s.name) return &s;
  return nullptr;
}

// What a command accepts besides the global options, for error messages.
const char* CommandArgs(Command command) {
  switch (command) {
    case Command::kUpdate: return "--yes, --address ADDRESS, --image FILE and --image-version HEX";
    case Command::kSettings: return "--defaults and NAME=VALUE";
    case Command::kFirmware: return "--save FILE, --image FILE and --image-version HEX";
    case Command::kPorts: return "--long";
    default: return "nothing";
  }
}

const char* CommandName(Command command) {
  for (const auto& c : kCommands)
    if (c.command == command) return c.name;
  return "";
}

bool ParseAssignment(const std::string& arg, Options& options, std::string& error) {
  const size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  const SettingName* setting = FindSetting(name);
  if (!setting) {
    error = "unknown setting '" + name + "'; settings: " + SettingList();
    return false;
  }
  const std::string accepted = Joined(setting->values, "|");
  if (eq == std::string::npos) {
    error = "setting " + name + " needs a value, as in " + name + "=" +
            setting->values[0] + "; accepted: " + accepted;
    return false;
  }
  const std::string value = arg.substr(eq + 1);
  int index = -1;
  for (size_t i = 0; i < setting->values.size(); ++i)
    if (value == setting->values[i]) index = static_cast<int>(i);
  if (index < 0) {
    error = "bad value '" + value + "' for " + name + "; accepted: " + accepted;
    return false;
  }
  for (const auto& a : options.assignments) {
    if (a.control_id == setting->control_id) {
      error = "setting " + name + " is given twice; give each setting once";
      return false;
    }
  }
  options.assignments.push_back({setting->control_id, index});
  return true;
}

constexpr OptionName kGlobalOptions[] = {
    {"--port", OptionValue::kPort}, {"--verbose", OptionValue::kNone}, {"--help", OptionValue::kNone}};
constexpr OptionName kUpdateOptions[] = {{"--yes", OptionValue::kNone},
                                          {"--address", OptionValue::kText},
                                          {"--image", OptionValue::kFile},
                                          {"--image-version", OptionValue::kText}};
constexpr OptionName kSettingsOptions[] = {{"--defaults", OptionValue::kNone}};
constexpr OptionName kFirmwareOptions[] = {{"--save", OptionValue::kFile},
                                            {"--image", OptionValue::kFile},
                                            {"--image-version", OptionValue::kText}};
constexpr OptionName kPortsOptions[] = {{"--long", OptionValue::kNone}};

// Whether args[i] is `option`, as "--option VALUE" or "--option=VALUE"; when
// it is, `value` holds the value, or `error` says what is missing.
bool TakeValue(std::span<const std::string> args, size_t& i, const std::string& option,
               const char* what, std::string& value, std::string& error) {
  const std::string& arg = args[i];
  if (arg.starts_with(option + "=")) {
    value = arg.substr(option.size() + 1);
    return true;
  }
  if (arg != option) return false;
  if (i + 1 == args.size())
    error = "option " + option + " needs " + what;
  else
    value = args[++i];
  return true;
}

}  // namespace

std::span<const SettingName> SettingNames() { return kSettingNames; }

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const auto& c : kCommands) names.emplace_back(c.name);
  return names;
}

std::optional<Command> FindCommand(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return c.command;
  return std::nullopt;
}

std::span<const OptionName> GlobalOptions() { return kGlobalOptions; }

std::span<const OptionName> CommandOptions(Command command) {
  switch (command) {
    case Command::kUpdate: return kUpdateOptions;
    case Command::kSettings: return kSettingsOptions;
    case Command::kFirmware: return kFirmwareOptions;
    case Command::kPorts: return kPortsOptions;
    default: return {};
  }
}

bool ParseArgs(std::span<const std::string> args, Options& options, std::string& error) {
  options = Options{};
  // Asking for help wins over anything else on the line.
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--port" || args[i] == "--save" || args[i] == "--address" ||
        args[i] == "--image" || args[i] == "--image-version")
      ++i;
    else if (args[i] == "--help" || args[i] == "-h") return true;
  }
  bool have_command = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (arg == "--port" || arg.starts_with("--port=")) {
      std::string name;
      if (arg == "--port") {
        if (i + 1 == args.size()) {
          error = "option --port needs a port name, as in --port /dev/ttyUSB0";
          return false;
        }
        name = args[++i];
      } else {
        name = arg.substr(7);
      }
      if (name.empty()) {
        error = "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0";
        return false;
      }
      options.ports.push_back(name);
      continue;
    }
    if (!have_command) {
      if (arg.starts_with("-")) {
        error = "unknown option '" + arg +
                "'; accepted before the command: --port NAME, --verbose, --help";
        return false;
      }
      bool known = false;
      for (const auto& c : kCommands) {
        if (arg == c.name) {
          options.command = c.command;
          known = true;
        }
      }
      if (!known) {
        error = "unknown command '" + arg + "'; commands: " + CommandList() +
                " (brivelton --help explains them)";
        return false;
      }
      have_command = true;
      continue;
    }
    // Arguments of the command.
    const Command command = options.command;
    if (command == Command::kHelp) continue;  // "help anything" still helps
    if (command == Command::kUpdate && arg == "--yes") {
      options.yes = true;
      continue;
    }
    if ((command == Command::kUpdate || command == Command::kFirmware) &&
        TakeImageOption(args, i, options.image, error)) {
      if (!error.empty()) return false;
      continue;
    }
    if (command == Command::kPorts && arg == "--long") {
      options.long_listing = true;
      continue;
    }
    std::string text;
    if (command == Command::kUpdate &&
        TakeValue(args, i, "--address", "a Bluetooth address, as in --address 00:1B:DC:0F:21:7E",
                  text, error)) {
      if (!error.empty()) return false;
      if (options.address) {
        error = "option --address is given twice; give one address";
        return false;
      }
      options.address = ParseBtAddress(text);
      if (!options.address) {
        error = "bad Bluetooth address '" + text +
                "'; give 12 hexadecimal digits, colons optional, as in 00:1B:DC:0F:21:7E";
        return false;
      }
      continue;
    }
    if (command == Command::kSettings && arg == "--defaults") {
      options.defaults = true;
      continue;
    }
    if (command == Command::kSettings && !arg.starts_with("-")) {
      if (!ParseAssignment(arg, options, error)) return false;
      continue;
    }
    if (command == Command::kFirmware &&
        TakeValue(args, i, "--save", "a file name, as in --save image.bin", text, error)) {
      if (!error.empty()) return false;
      const std::string& path = text;
      if (path.empty() || options.save_path) {
        error = path.empty() ? "option --save needs a file name that is not empty"
                             : "option --save is given twice; give one file";
        return false;
      }
      options.save_path = path;
      continue;
    }
    error = std::string(arg.starts_with("-") ? "unknown option '" : "unexpected argument '") +
            arg + "' for " + CommandName(command) + "; it accepts " + CommandArgs(command) +
            " (and --port NAME, --verbose)";
    return false;
  }
  if (!have_command) {
    error = "no command given; commands: " + CommandList() + " (brivelton --help explains them)";
    return false;
  }
  return CheckImageOptions(options.image, error);
}

SettingsValues ApplySettings(const SettingsValues& shown, bool defaults,
                             std::span<const Assignment> assignments) {
  SettingsValues values = defaults ? DefaultSettings() : shown;
  for (const auto& a : assignments) *SettingsMember(values, a.control_id) = a.value;
  return values;
}

std::vector<std::string> FormatSettings(const SettingsValues& values) {
  std::vector<std::string> lines;
  SettingsValues v = values;
  for (const auto& s : kSettingNames) {
    const int32_t member = *SettingsMember(v, s.control_id);
    std::string text;
    if (s.values.size() == 2)  // a check box: any non-zero member is ticked
      text = member ? "on" : "off";
    else if (member >= 0 && static_cast<size_t>(member) < s.values.size())
      text = s.values[static_cast<size_t>(member)];
    else
      text = "none";  // a list without a choice
    lines.push_back(std::string(s.name) + "=" + text);
  }
  return lines;
}

std::string HelpText() {
  std::string settings_table;
  for (const auto& s : kSettingNames) {
    std::string line = "    ";
    line += s.name;
    line.resize(32, ' ');
    settings_table += line + Joined(s.values, "|") + "\n";
  }
  return
      "Usage: brivelton [--port NAME]... [--verbose] COMMAND [ARGS]\n"
      "\n"
      "Services the telephone adapter on a serial port: finds it, reads its firmware\n"
      "version, writes the built-in firmware and reads or writes its ten settings.\n"
      "\n"
      "Commands:\n"
      "  check                                  Check Device: find the adapter, read its\n"
      "                                         firmware version, advise\n"
      "  update [--yes] [--address ADDRESS]     Check Device, then Update Firmware\n"
      "  identity                               Check Device, then read the adapter's\n"
      "                                         Bluetooth address from its identity page\n"
      "                                         (nothing is erased or written)\n"
      "  settings [--defaults] [NAME=VALUE]...  Check Device, then Setting\n"
      "  settings-help                          the 41 help lines of the settings\n"
      "  firmware [--save FILE]                 the built-in image: version, size, checksum\n"
      "  ports [--long]                         the port names the search would probe, in order\n"
      "  help                                   this text (also --help, -h)\n"
      "\n"
      "Options (before or after the command):\n"
      "  --port NAME   probe exactly this port; repeat it to probe several, in the order\n"
      "                given, in place of the system's port list. The search, its\n"
      "                messages and its fallback rules stay as they are.\n"
      "  --verbose     print the trace lines on stderr\n"
      "  --yes         (update) answer OK to the update warning without asking (on a\n"
      "                terminal the warning still shows on stderr, answered)\n"
      "  --address ADDRESS\n"
      "                (update) the adapter's Bluetooth address, 12 hexadecimal digits,\n"
      "                colons optional (00:1B:DC:0F:21:7E or 001BDC0F217E), written when\n"
      "                the adapter's identity page carries none; an adapter whose page\n"
      "                still carries its address keeps it, and the log says so\n"
      "  --defaults    (settings) start from the dialog's Set to Default values; any\n"
      "                NAME=VALUE is applied on top\n"
      "  --save FILE   (firmware) write the built-in image to FILE\n"
      "  --image FILE  (update, firmware) the firmware image in FILE in place of the\n"
      "                built-in one, under the same rules: exactly 512000 bytes, its\n"
      "                checksum computed from it. Needs --image-version.\n"
      "  --image-version HEX\n"
      "                (update, firmware) the version of that image, one to three\n"
      "                hexadecimal digits: 204 is 2.04. Check Device compares the\n"
      "                adapter's version with it.\n"
      "  --long        (ports) each name with what the system knows of it: driver,\n"
      "                usb=VENDOR:PRODUCT, manufacturer, product, serial and the\n"
      "                /dev/serial/by-id name, tab-separated after the name\n"
      "\n"
      "Output:\n"
      "  check, update and settings print the message log on stdout, one line per logged\n"
      "  line, the moment it is logged, exactly as logged. After the log, update prints\n"
      "  the result text, one of\n"
      "    Firmware update done. Please re-pair device.\n"
      "    Update failed. Please unplug the device and try again.\n"
      "  and settings prints the ten values as NAME=VALUE lines, in the order of the\n"
      "  table below. Nothing else goes to stdout.\n"
      "\n"
      "  update and settings start with Check Device and go no further when no adapter\n"
      "  answers.\n"
      "\n"
      "  update shows the update warning on stderr and, when stdin is a terminal, asks\n"
      "    Press \"OK\" to continue. [y/N]\n"
      "  where y or yes is OK and anything else cancels. Without a terminal and without\n"
      "  --yes the update is cancelled, and the log ends with\n"
      "     Firmware update cancelled\n"
      "  While the flash is erased and written, a progress bar shows on stderr when\n"
      "  stderr is a terminal.\n"
      "\n"
      "  Before it erases anything, update saves the adapter's Bluetooth address in\n"
      "  $XDG_STATE_HOME/brivelton/ (default ~/.local/state/brivelton/), one file per\n"
      "  port, readable by you only, and removes it once the update succeeded. If that\n"
      "  file can't be written, the update stops before erasing. While the flash is\n"
      "  erased and written, Ctrl-C (or SIGTERM, SIGHUP) does not cut it: the tool says\n"
      "  so, finishes that attempt and stops (exit 0 with the success text if it\n"
      "  succeeded, else 128 + the signal's number); a second Ctrl-C stops at once. At\n"
      "  any other time a signal stops it at once with 128 + the signal's number.\n"
      "\n"
      "  identity prints, after the log, the address and the device name as the\n"
      "  identity page holds them, such as\n"
      "    address: 00:1B:DC:0F:21:7E\n"
      "    name: Brivelton(B00)\n"
      "\n"
      "After an update was cut short (killed, unplugged, the lid closed):\n"
      "  run 'brivelton update' again on the same port. The adapter's identity page may\n"
      "  now be blank; the address saved for that port is written back, and the log\n"
      "  says which and from where. 'brivelton identity' shows what the page holds. If\n"
      "  the page is blank and nothing was saved for this port (another PC, another\n"
      "  port), give the address from the adapter's label or the phone's list of paired\n"
      "  devices: brivelton update --address 00:1B:DC:0F:21:7E. An address saved for\n"
      "  another port is never used on its own; the log names it.\n"
      "\n"
      "  settings with NAME=VALUE or --defaults ends the dialog with OK holding those\n"
      "  values: the changed ones are written, and the values printed after the log are\n"
      "  those now on the adapter (none are printed when a write failed). With neither,\n"
      "  settings only looks: the dialog ends like Cancel, the log ends with\n"
      "     Set parameters cancelled\n"
      "  and the values the dialog showed are printed after it. Giving a setting twice\n"
      "  is bad usage.\n"
      "\n"
      "Settings (NAME=VALUE):\n" +
      settings_table +
      "\n"
      "  firmware prints three lines, such as 'version: 2.04 (0x204)', 'size: 512000\n"
      "  bytes' and 'checksum: 2E 42 2E 45' (the bytes in the order the boot loader\n"
      "  reports them), and 'saved: FILE' after --save.\n"
      "  ports prints one name a line; when the system's port list can't be read it\n"
      "  says so on stderr and prints the fallback names the search would try.\n"
      "  A /dev/serial/by-id name given to --port stays the same when the adapter is\n"
      "  plugged in again; ports --long shows it.\n"
      "\n"
      "Exit status:\n"
      "  0  the command did what was asked: check found the adapter (even when its\n"
      "     version could not be read: the log says so), settings without changes\n"
      "     showed the values, identity read a page that carries an address\n"
      "  1  the adapter was not found, the update failed, a setting could not be\n"
      "     written, the port could not be opened, the firmware is too old for\n"
      "     settings, the user cancelled, --save could not write its file, or\n"
      "     identity found no address on the page (or could not read it)\n"
      "  2  bad usage: an unknown command, option, NAME or VALUE, a malformed\n"
      "     --address, or an --image without --image-version, unreadable or not\n"
      "     512000 bytes; nothing is probed\n"
      "  128 + N  stopped by signal N (130 for Ctrl-C)\n"
      "\n"
      "Examples:\n"
      "  brivelton check\n"
      "  brivelton --port /dev/ttyUSB0 update --yes\n"
      "  brivelton --port /dev/ttyUSB0 identity\n"
      "  brivelton update --yes --address 00:1B:DC:0F:21:7E\n"
      "  brivelton --port /dev/ttyUSB0 --port /dev/ttyACM0 check\n"
      "  brivelton settings\n"
      "  brivelton settings caller-id=off hook-speed=100ms offhook-power=high\n"
      "  brivelton settings --defaults media-audio=on\n"
      "  brivelton --verbose settings dial-plan=hash-key\n"
      "  brivelton firmware --save image.bin\n"
      "  brivelton --port /dev/ttyUSB0 update --image fw.bin --image-version 205\n"
      "  brivelton ports --long\n";
}

}  // namespace brivelton::cli
