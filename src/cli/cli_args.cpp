// SPDX-License-Identifier: MIT
#include "cli/cli_args.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/bt_address.h"
#include "params/settings_data.h"
#include "resources/firmware_image.h"

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

constexpr unsigned Bit(Command command) { return 1u << static_cast<unsigned>(command); }

constexpr CommandRow kCommands[] = {
    {"check", Command::kCheck, nullptr,
     "Check Device: find the adapter, read its\nfirmware version, advise"},
    {"update", Command::kUpdate, nullptr, "Check Device, then Update Firmware"},
    {"identity", Command::kIdentity, nullptr,
     "Check Device, then read the adapter's\nBluetooth address from its identity page\n"
     "through its boot loader, and restart it (a\ncall in progress drops; nothing is "
     "erased\nor written)"},
    {"settings", Command::kSettings, "NAME=VALUE", "Check Device, then Setting"},
    {"settings-help", Command::kSettingsHelp, nullptr, "the 41 help lines of the settings"},
    {"firmware", Command::kFirmware, nullptr, "the built-in image: version, size, checksum"},
    {"ports", Command::kPorts, nullptr, "the port names the search would probe, in order"},
    {"help", Command::kHelp, nullptr, "this text (also --help, -h)"},
};

const CommandRow* FindCommandRow(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

const char* CommandName(Command command) {
  for (const auto& c : kCommands)
    if (c.command == command) return c.name;
  return "";
}

std::string Joined(std::span<const char* const> words, const char* separator) {
  std::string text;
  for (const char* word : words) {
    if (!text.empty()) text += separator;
    text += word;
  }
  return text;
}

std::string CommandList() {
  std::vector<std::string> names;
  for (const auto& c : kCommands) names.emplace_back(c.name);
  return ListInWords(names, ", ");
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

Result<void> ParseAssignment(const std::string& arg, Options& options) {
  const size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  const SettingName* setting = FindSetting(name);
  if (!setting) return Error("unknown setting '" + name + "'; settings: " + SettingList());
  const std::string accepted = Joined(setting->values, "|");
  if (eq == std::string::npos)
    return Error("setting " + name + " needs a value, as in " + name + "=" + setting->values[0] +
                 "; accepted: " + accepted);
  const std::string value = arg.substr(eq + 1);
  int index = -1;
  for (size_t i = 0; i < setting->values.size(); ++i)
    if (value == setting->values[i]) index = static_cast<int>(i);
  if (index < 0) return Error("bad value '" + value + "' for " + name + "; accepted: " + accepted);
  for (const auto& a : options.assignments)
    if (a.control_id == setting->control_id)
      return Error("setting " + name + " is given twice; give each setting once");
  options.assignments.push_back({setting->control_id, index});
  return {};
}

// --- The options ---------------------------------------------------------------

Result<void> Switch(bool& flag) {
  flag = true;
  return {};
}

Result<void> TakeStartUpAddress(Options& o, const std::string&) {
  if (o.address) return Error("--address and --start-up-address name two addresses; give one");
  return Switch(o.startup_address);
}

Result<void> TakeAddress(Options& o, const std::string& text) {
  if (o.address) return Error("option --address is given twice; give one address");
  if (o.startup_address)
    return Error("--address and --start-up-address name two addresses; give one");
  const auto address = ParseBtAddress(text);
  if (!address)
    return Error("bad Bluetooth address '" + text +
                 "'; give 12 hexadecimal digits, colons optional, as in 00:1B:DC:0F:21:7E");
  if (const std::string why = MeaninglessAddressReason(*address); !why.empty())
    return Error("refused Bluetooth address '" + text + "': " + why);
  o.address = address;
  return {};
}

Result<void> TakeSave(Options& o, const std::string& path) {
  if (path.empty()) return Error("option --save needs a file name that is not empty");
  if (o.save_path) return Error("option --save is given twice; give one file");
  o.save_path = path;
  return {};
}

constexpr unsigned kOnUpdate = Bit(Command::kUpdate);
constexpr unsigned kOnSettings = Bit(Command::kSettings);
constexpr unsigned kOnFirmware = Bit(Command::kFirmware);
constexpr unsigned kOnPorts = Bit(Command::kPorts);

// Every option, in the order the help explains them. Those of no command go
// before or after the command; the others only after theirs.
constexpr CliOption kOptions[] = {
    PortOption<Options>("probe exactly this port; repeat it to probe several, in the order\n"
                        "given, in place of the system's port list. The search, its\n"
                        "messages and its fallback rules stay as they are. Without\n"
                        "--port, the names in $BRIVELTON_PORT (separated by spaces or\n"
                        "commas) are probed, when it is set and not empty.",
                        "-p"),
    {"--verbose", nullptr, nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.verbose); },
     "print the trace lines on stderr"},
    {"--quiet", "-q", nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.quiet); },
     "print no log lines and no progress bar, only the results and\nthe errors"},
    // Asking for help or the version is seen before anything else on the
    // line; the command `help` explains --help.
    {"--help", "-h", nullptr, OptionValue::kNone, nullptr,
     [](Options&, const std::string&) { return Result<void>(); }, nullptr},
    {"--version", "-V", nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.version); },
     "print the program's version and the built-in firmware's, one\nline each"},
    {"--yes", "-y", nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.yes); },
     "answer OK to the update warning without asking (on a\n"
     "terminal the warning still shows on stderr, answered)",
     kOnUpdate, true},
    {"--if-older", nullptr, nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.if_older); },
     "update only an adapter whose firmware is older\n"
     "than the image: after Check Device, one log line says the\n"
     "adapter is up to date (and one line on stderr, even with -q),\n"
     "nothing is written and the exit status is 0. An adapter whose\n"
     "version can't be read is updated.",
     kOnUpdate},
    {"--address", nullptr, "ADDRESS", OptionValue::kText,
     "a Bluetooth address, as in --address 00:1B:DC:0F:21:7E", TakeAddress,
     "the adapter's Bluetooth address, 12 hexadecimal digits,\n"
     "colons optional (00:1B:DC:0F:21:7E or 001BDC0F217E), written when\n"
     "the adapter's identity page carries none; an adapter whose page\n"
     "still carries its address keeps it, and the log says so",
     kOnUpdate, true},
    {"--start-up-address", nullptr, nullptr, OptionValue::kNone, nullptr, TakeStartUpAddress,
     "write the start-up address 00:01:00:03:04:06\n"
     "when the identity page carries no address, on purpose, in place\n"
     "of any saved one (every blank adapter gets it, so adapters\n"
     "given it share one address)",
     kOnUpdate, true},
    {"--defaults", nullptr, nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.defaults); },
     "start from the dialog's Set to Default values; any\nNAME=VALUE is applied on top",
     kOnSettings, true},
    {"--save", nullptr, "FILE", OptionValue::kFile, "a file name, as in --save image.bin",
     TakeSave, "write the built-in image to FILE", kOnFirmware, true},
    ImagePathOption<Options>("the firmware image in FILE in place of the\n"
                             "built-in one, under the same rules: exactly 512000 bytes, its\n"
                             "checksum computed from it. Needs --image-version.",
                             kOnUpdate | kOnFirmware),
    ImageVersionOption<Options>("the version of that image, one to three\n"
                                "hexadecimal digits: 204 is 2.04. Check Device compares the\n"
                                "adapter's version with it.",
                                kOnUpdate | kOnFirmware),
    {"--long", nullptr, nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.long_listing); },
#ifdef _WIN32
     "each name with what the system knows of it: device (the\n"
     "registry's name for it), usb=VENDOR:PRODUCT and serial,\n"
     "tab-separated after the name",
#else
     "each name with what the system knows of it: driver,\n"
     "usb=VENDOR:PRODUCT, manufacturer, product, serial and the\n"
     "/dev/serial/by-id name, tab-separated after the name",
#endif
     kOnPorts, true},
    {"--json", nullptr, nullptr, OptionValue::kNone, nullptr,
     [](Options& o, const std::string&) { return Switch(o.json); },
     "print the\n"
     "results as one JSON object on stdout and nothing else there;\n"
     "the log goes to stderr. The exit status is the same. "
#ifdef _WIN32
     "The README\n(in the zip and in the install folder) lists the fields.",
#else
     "The manual\npage lists the fields.",
#endif
     Bit(Command::kCheck) | kOnUpdate | Bit(Command::kIdentity) | kOnSettings | kOnFirmware |
         kOnPorts},
};

bool IsGlobal(const CliOption& option) { return option.commands == 0; }

// The options accepted before the command, as the help shows them.
std::string GlobalList(bool with_help) {
  std::vector<std::string> shown;
  for (const auto& o : kOptions)
    if (IsGlobal(o) && (with_help || o.help)) shown.push_back(Shown(o));
  return ListInWords(shown, ", ");
}

// What a command accepts besides the global options, for error messages.
std::string CommandArgs(Command command) {
  std::vector<std::string> shown;
  for (const auto& o : kOptions)
    if (o.commands & Bit(command)) shown.push_back(Shown(o));
  const CommandRow* row = FindCommandRow(CommandName(command));
  if (row->operands) shown.emplace_back(row->operands);
  return ListInWords(shown, " and ");
}

}  // namespace

std::string CommandSynopsis(const CommandRow& c) {
  std::string synopsis = c.name;
  for (const auto& o : kOptions)
    if (o.in_synopsis && (o.commands & Bit(c.command))) synopsis += " [" + Shown(o) + "]";
  if (c.operands) synopsis += std::string(" [") + c.operands + "]...";
  return synopsis;
}

std::span<const CommandRow> CommandTable() { return kCommands; }

std::string CommandsLead(const CliOption& option) {
  std::vector<std::string> names;
  for (const auto& c : kCommands)
    if (option.commands & Bit(c.command)) names.emplace_back(c.name);
  if (names.empty()) return "";
  std::string lead = "(" + names[0];
  for (size_t i = 1; i < names.size(); ++i) lead += ", " + names[i];
  return lead + ") ";
}

namespace {

std::string CommandLines() {
  constexpr size_t kColumn = 41;
  std::string text;
  for (const auto& c : kCommands) {
    text += HelpRow(CommandSynopsis(c), c.help, kColumn);
  }
  return text;
}

// "  -p, -q and -y stand for --port, --quiet and --yes." and the forms they
// take besides.
std::string ShortForms() {
  std::vector<std::string> shorts, longs;
  for (const auto& o : kOptions)
    if (o.short_name && o.help) {
      shorts.emplace_back(o.short_name);
      longs.emplace_back(o.name);
    }
  return Wrapped(ListInWords(shorts, " and ") + " stand for " + ListInWords(longs, " and ") + ".",
                 2, 80) +
         Wrapped(OptionFormsText(), 2, 80);
}

std::vector<OptionName> Names(unsigned commands) {
  std::vector<OptionName> names;
  for (const auto& o : kOptions)
    if (commands ? (o.commands & commands) : IsGlobal(o)) names.push_back({o.name, o.kind});
  return names;
}

}  // namespace

std::span<const SettingName> SettingNames() { return kSettingNames; }

// Its examples come from the table: the first and last short switches
// together, the first short option with a value, the first switch.
std::string OptionFormsText() {
  std::string bundle = "-";
  const CliOption* valued = nullptr;
  const CliOption* first_switch = nullptr;
  for (const auto& o : kOptions) {
    if (!o.value && !first_switch) first_switch = &o;
    if (!o.short_name || !o.help) continue;
    if (o.value) {
      if (!valued) valued = &o;
    } else if (bundle.size() < 3) {
      bundle += o.short_name[1];
    } else {
      bundle.back() = o.short_name[1];
    }
  }
  std::string text = "Short switches combine (" + bundle + ")";
  if (valued && valued->kind == OptionValue::kPort)
    text += std::string(", a value may follow its option joined (") + valued->short_name +
            kPortExample + ", " + valued->name + "=" + kPortExample + ")";
  return text + ", a switch takes no value (" + first_switch->name +
         "=yes is refused) and -- ends the options.";
}

std::span<const CliOption> OptionTable() { return kOptions; }

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const auto& c : kCommands) names.emplace_back(c.name);
  return names;
}

std::optional<Command> FindCommand(const std::string& name) {
  if (const CommandRow* row = FindCommandRow(name)) return row->command;
  return std::nullopt;
}

std::span<const OptionName> GlobalOptions() {
  static const std::vector<OptionName> names = Names(0);
  return names;
}

std::span<const OptionName> CommandOptions(Command command) {
  static const auto by_command = [] {
    std::vector<std::vector<OptionName>> lists;
    for (unsigned c = 0; c < 32; ++c) lists.push_back(Names(1u << c));
    return lists;
  }();
  return by_command[static_cast<size_t>(command)];
}

Result<Options> ParseArgs(std::span<const std::string> given) {
  Options options;
  std::vector<std::string> expanded;
  size_t operands_from = 0;
  ExpandOptionForms<Options>(kOptions, given, expanded, operands_from);
  const std::span<const std::string> args = expanded;
  // After "--" nothing is an option.
  const auto find_option = [&](size_t i) {
    return i < operands_from ? FindOption<Options>(kOptions, args[i]) : nullptr;
  };
  // Asking for help wins over anything else on the line; a value that
  // happens to read "--help" is no question.
  bool version = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const CliOption* option = find_option(i);
    if (!option) continue;
    if (std::string(option->name) == "--help") return Options{};
    version = version || std::string(option->name) == "--version";
    if (option->value && args[i].find('=') == std::string::npos) ++i;
  }
  if (version) {
    options.version = true;
    return options;
  }
  const CommandRow* command = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const CliOption* option = find_option(i);
    const bool option_like = i < operands_from && arg.starts_with("-");
    if (const CliOption* given_a_value = option_like ? SwitchGivenAValue<Options>(kOptions, arg)
                                                     : nullptr) {
      return Error(std::string("option ") + given_a_value->name + " takes no value; give " +
                   given_a_value->name + " alone");
    }
    if (option && IsGlobal(*option)) {
      if (auto taken = TakeOption(*option, args, i, options); !taken) return taken.error();
      continue;
    }
    if (!command) {
      if (option_like)
        return Error("unknown option '" + arg + "'; accepted before the command: " +
                     GlobalList(true));
      command = FindCommandRow(arg);
      if (!command)
        return Error("unknown command '" + arg + "'; commands: " + CommandList() +
                     " (brivelton --help explains them)");
      options.command = command->command;
      continue;
    }
    // Arguments of the command.
    if (command->command == Command::kHelp) continue;  // "help anything" still helps
    if (option && (option->commands & Bit(command->command))) {
      if (auto taken = TakeOption(*option, args, i, options); !taken) return taken.error();
      continue;
    }
    if (command->command == Command::kSettings && !option_like) {
      if (auto taken = ParseAssignment(arg, options); !taken) return taken.error();
      continue;
    }
    return Error(std::string(option_like ? "unknown option '" : "unexpected argument '") + arg +
                 "' for " + command->name + "; it accepts " + CommandArgs(command->command) +
                 " (and " + GlobalList(false) + ")");
  }
  if (!command)
    return Error("no command given; commands: " + CommandList() +
                 " (brivelton --help explains them)");
  if (auto checked = CheckImageOptions(options.image); !checked) return checked.error();
  return options;
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

// What differs between the systems: where the address is kept, what stops
// the tool, how a port is named.
#ifdef _WIN32
constexpr const char kHelpJournal[] =
    "  Before it erases anything, update saves the adapter's Bluetooth address in\n"
    "  %LOCALAPPDATA%\\Brivelton\\, and removes it once the update succeeded. If that\n"
    "  file can't be written, the update stops before erasing. While the flash is\n"
    "  erased and written, Ctrl-C (or Ctrl-Break, or closing the console) does not\n"
    "  cut it: the tool says so, finishes that attempt and stops (exit 0 with the\n"
    "  success text if it succeeded, else 130 for Ctrl-C, 149 for Ctrl-Break and 129\n"
    "  for the console; a closed console is held only as long as Windows lets a\n"
    "  closing program run). A second Ctrl-C stops at once, saying where the address\n"
    "  is saved and what to run. At any other time they stop it at once, with the\n"
    "  same status.\n";
constexpr const char kHelpPortNames[] =
    "  ports --long shows the USB serial number of each adapter's port, which tells\n"
    "  adapters apart whatever COM number Windows gave them.\n";
constexpr const char kHelpPort[] = "COM5";
constexpr const char kHelpOtherPort[] = "COM6";
constexpr const char kHelpEnvironmentExample[] =
    "  set BRIVELTON_PORT=COM5\n"
    "  brivelton -q update -y --if-older\n";
#else
constexpr const char kHelpJournal[] =
    "  Before it erases anything, update saves the adapter's Bluetooth address in\n"
    "  $XDG_STATE_HOME/brivelton/ (default ~/.local/state/brivelton/), one file per\n"
    "  adapter, readable by you only, and removes it once the update succeeded. If\n"
    "  that file can't be written, the update stops before erasing. While the flash\n"
    "  is erased and written, Ctrl-C (or SIGTERM, SIGHUP) does not cut it: the tool\n"
    "  says so, finishes that attempt and stops (exit 0 with the success text if it\n"
    "  succeeded, else 128 + the signal's number); a second Ctrl-C stops at once,\n"
    "  saying where the address is saved and what to run. At any other time a signal\n"
    "  stops it at once with 128 + the signal's number.\n";
constexpr const char kHelpPortNames[] =
    "  A /dev/serial/by-id name given to --port stays the same when the adapter is\n"
    "  plugged in again; ports --long shows it.\n";
constexpr const char kHelpPort[] = "/dev/ttyUSB0";
constexpr const char kHelpOtherPort[] = "/dev/ttyACM0";
constexpr const char kHelpEnvironmentExample[] =
    "  BRIVELTON_PORT=/dev/ttyUSB0 brivelton -q update -y --if-older\n";
#endif

namespace {

constexpr ExitStatusRow kExitStatusRows[] = {
    {"0", "done as asked: check found the adapter (even when its version could not be read: "
          "the log says so), update verified the flash or, with --if-older, found nothing to "
          "do (said on stderr, even with -q), settings wrote the values or showed them, "
          "identity read the adapter's own address"},
    {"1", "failed: the update was not verified after its attempts (the adapter needs another "
          "update), a setting could not be written, the port could not be opened again after "
          "Check Device, the identity page could not be read, or --save could not write its "
          "file"},
    {"2", "bad usage: an unknown command, option, NAME or VALUE, a malformed --address, or "
          "--image without --image-version; nothing is probed"},
    {"3", "no adapter found on the ports searched"},
    {"4", "refused before any change: the firmware too old for settings, several saved "
          "addresses and none chosen, the address could not be saved before erasing, or an "
          "--image file that can't be read or is not 512000 bytes"},
    {"5", "cancelled: the update warning answered No, no --yes without a terminal, or Cancel "
          "at the address question; nothing was erased"},
    {"6", "identity found only the start-up address on the page, or none"},
    {"128 + N", "stopped by signal N (130 for Ctrl-C)"},
};

std::string ExitStatusLines() {
  std::string text;
  for (const auto& row : kExitStatusRows) {
    const std::string tag = std::string("  ") + row.status + "  ";
    std::string wrapped = Wrapped(row.meaning, 5, 80);
    if (tag.size() <= 5) {
      text += tag + wrapped.substr(tag.size());
    } else {
      text += tag + wrapped.substr(wrapped.find_first_not_of(' '));
    }
  }
  return text;
}

}  // namespace

std::span<const ExitStatusRow> ExitStatusRows() { return kExitStatusRows; }

std::string HelpText() {
  const std::string port = kHelpPort;
  const std::string other_port = kHelpOtherPort;
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
      "Commands:\n" +
      CommandLines() +
      "\n"
      "Options (before or after the command):\n" +
      OptionLines<Options>(kOptions, 16, CommandsLead) + ShortForms() +
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
      "  stderr is a terminal, and otherwise one line per stage and per tenth of it\n"
      "  (neither with -q); both say not to unplug the adapter while it has no\n"
      "  firmware. A failed attempt is told there too, such as\n"
      "    Attempt 2 of 20 failed: the checksum did not match. Trying again in 3 s.\n"
      "  and after the last one a paragraph says what the adapter is left with, where\n"
      "  its address is saved and the command to run.\n"
      "\n" +
      kHelpJournal +
      "\n"
      "  identity prints, after the log, the address and the device name as the\n"
      "  identity page holds them, such as\n"
      "    address: 00:1B:DC:0F:21:7E\n"
      "    name: Brivelton(B00)\n"
      "\n"
      "  settings with NAME=VALUE or --defaults ends the dialog with OK holding those\n"
      "  values: the changed ones are written, and the values printed after the log are\n"
      "  those now on the adapter (none are printed when a write failed). With neither,\n"
      "  settings only looks: the dialog ends like Cancel, the log ends with\n"
      "     Set parameters cancelled\n"
      "  and the values the dialog showed are printed after it. Giving a setting twice\n"
      "  is bad usage.\n"
      "\n"
      "  firmware prints three lines, such as 'version: 2.04 (0x204)', 'size: 512000\n"
      "  bytes' and 'checksum: 2E 42 2E 45' (the bytes in the order the boot loader\n"
      "  reports them), and 'saved: FILE' after --save. When the image is the build's\n"
      "  placeholder, a 'note:' line after the version says so.\n"
      "  ports prints one name a line; when the system's port list can't be read it\n"
      "  says so on stderr and prints the fallback names the search would try.\n" +
      kHelpPortNames +
      "\n"
      "After an update was cut short (killed, unplugged, the lid closed):\n"
      "  run 'brivelton update' again. The adapter's identity page may now be blank\n"
      "  (or carry only the start-up address 00:01:00:03:04:06); 'brivelton identity'\n"
      "  shows what it holds. A saved address is written back on its own only when the\n"
      "  entries that fit the adapter, those saved with its USB serial number or, when\n"
      "  none is, those saved for its port, all hold that one address; the log says\n"
      "  which and from where. When other saved addresses may be the adapter's, update\n"
      "  asks on a terminal; with --yes or without one it erases nothing, names each\n"
      "  with the --address line that writes it, and exits 4. When nothing is saved\n"
      "  (another PC), the start-up address is written and the log says so; give the\n"
      "  address from the adapter's label or the phone's list of paired devices:\n"
      "  brivelton update --address 00:1B:DC:0F:21:7E.\n"
      "\n"
      "Settings (NAME=VALUE):\n" +
      settings_table +
      "\n"
      "Exit status:\n" +
      ExitStatusLines() +
      "\n"
      "Examples:\n"
      "  brivelton check\n"
      "  brivelton --port " + port + " update --yes\n"
      "  brivelton --port " + port + " identity\n"
      "  brivelton update --yes --address 00:1B:DC:0F:21:7E\n"
      "  brivelton --port " + port + " --port " + other_port + " check\n"
      "  brivelton settings\n"
      "  brivelton settings caller-id=off hook-speed=100ms offhook-power=high\n"
      "  brivelton settings --defaults media-audio=on\n"
      "  brivelton --verbose settings dial-plan=hash-key\n"
      "  brivelton firmware --save image.bin\n"
      "  brivelton --port " + port + " update --image fw.bin --image-version 205\n"
      "  brivelton ports --long\n" +
      kHelpEnvironmentExample +
      "  brivelton check --json\n";
}

}  // namespace brivelton::cli

namespace brivelton::cli {

std::vector<std::string> PortsFromEnvironment(const std::string& value) {
  std::vector<std::string> ports;
  std::string name;
  for (char c : value + " ") {
    if (c == ' ' || c == ',' || c == '\t' || c == '\n') {
      if (!name.empty()) ports.push_back(name);
      name.clear();
    } else {
      name += c;
    }
  }
  return ports;
}

std::string CommandLineRemedy(const std::string& address) {
  return "brivelton update --address " + address;
}

}  // namespace brivelton::cli
