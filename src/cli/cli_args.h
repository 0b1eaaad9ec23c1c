// SPDX-License-Identifier: MIT
#pragma once
// The command line of `brivelton`: what it accepts, parsed before anything
// touches a port, and the NAME=VALUE table of the parameter dialog.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "link/bt_address.h"
#include "params/settings_values.h"
#include "resources/firmware_file.h"

namespace brivelton::cli {

enum class Command {
  kHelp, kCheck, kUpdate, kIdentity, kSettings, kSettingsHelp, kFirmware, kPorts
};

struct Assignment {
  int control_id = 0;  // the dialog control the name stands for
  int value = 0;       // the member value: 0/1 for a check box, else the choice index
};

struct Options {
  Command command = Command::kHelp;
  std::vector<std::string> ports;  // --port, in the order given
  bool verbose = false;
  bool quiet = false;              // no log lines
  bool version = false;            // --version: the versions, nothing else
  bool json = false;               // the results as one JSON object
  bool yes = false;                // update --yes
  bool if_older = false;           // update --if-older
  // update --address: written when the adapter's identity page carries none.
  std::optional<BtAddressBytes> address;
  // update --start-up-address: the start-up address written on purpose.
  bool startup_address = false;
  bool defaults = false;           // settings --defaults
  std::vector<Assignment> assignments;
  std::optional<std::string> save_path;  // firmware --save
  bool long_listing = false;             // ports --long
  ImageOptions image;                    // update, firmware: --image, --image-version
};

// The options the arguments (without the program name) give. On bad usage a
// one-line error naming what is wrong and what is accepted.
Result<Options> ParseArgs(std::span<const std::string> args);

// One setting as the command line names it.
struct SettingName {
  const char* name;
  int control_id;
  std::span<const char* const> values;  // index = member value
};

// The ten settings, in the dialog's order.
std::span<const SettingName> SettingNames();

// The dialog's OK values from the values it showed: Set to Default first when
// asked, then the assignments on top.
SettingsValues ApplySettings(const SettingsValues& shown, bool defaults,
                             std::span<const Assignment> assignments);

// "caller-id=on" ... one line per setting, in the dialog's order.
std::vector<std::string> FormatSettings(const SettingsValues& values);

// The full --help text.
std::string HelpText();
// The option forms besides the plain ones (bundled, joined, "--"), in words.
std::string OptionFormsText();

// What each exit status means, as the help, the manual page and the README
// say it.
struct ExitStatusRow {
  const char* status;  // "0", or "128 + N"
  const char* meaning;
};
std::span<const ExitStatusRow> ExitStatusRows();

// BRIVELTON_PORT's value as port names (separated by spaces or commas).
std::vector<std::string> PortsFromEnvironment(const std::string& value);

// Every option of the tool, each once: the parser, the help, the completion
// and the manual page are made from this table.
using CliOption = Option<Options>;
std::span<const CliOption> OptionTable();

// The commands, in the order the help lists them.
struct CommandRow {
  const char* name;
  Command command;
  const char* operands;  // what follows besides options, as in "NAME=VALUE"
  const char* help;      // lines apart by '\n'
};
std::span<const CommandRow> CommandTable();
// "update [--yes] [--address ADDRESS]"
std::string CommandSynopsis(const CommandRow& command);
// "(update, firmware) " before the help of an option of some commands.
std::string CommandsLead(const CliOption& option);

// What the shell's completion offers: the command names, and the options with
// what follows each one that takes a value.
using brivelton::OptionValue;
struct OptionName {
  const char* name;
  OptionValue value;
};
std::vector<std::string> CommandNames();
std::span<const OptionName> GlobalOptions();
std::span<const OptionName> CommandOptions(Command command);
// The command a name stands for, if it is one.
std::optional<Command> FindCommand(const std::string& name);

// How the tool is given an adapter's address:
// "brivelton update --address 00:1B:DC:0F:21:7E".
std::string CommandLineRemedy(const std::string& address);

}  // namespace brivelton::cli
