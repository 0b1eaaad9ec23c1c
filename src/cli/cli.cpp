// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <utility>

#include "app/main_dialog.h"
#include "log/message_log.h"
#include "cli/cli_args.h"
#include "cli/cli_json.h"
#include "cli/cli_view.h"
#include "cli/exit_status.h"
#include "cli/port_errors.h"
#include "params/settings_data.h"
#include "resources/dialog_templates.h"
#include "resources/firmware_image.h"
#include "update/address_choice.h"
#include "update/identity_journal.h"

namespace brivelton::cli {

namespace {

int ListPorts(const Options& options, Platform& system, CliIo& io) {
  // The name first, so that scripts can cut it; with --long what the system
  // knows of the port follows, tab-separated.
  std::vector<PortFacts> listed;
  auto print = [&](const std::string& name) {
    if (options.json) {
      listed.push_back({name, system.port_list.Details(name)});
      return;
    }
    io.out << name;
    if (options.long_listing)
      for (const auto& d : system.port_list.Details(name)) io.out << '\t' << d.label << '=' << d.value;
    io.out << '\n';
  };
  const char* source = "given";
  if (!options.ports.empty()) {
    for (const auto& name : options.ports) print(name);
  } else if (const PortListing listing = system.port_list.List();
             listing.status != PortListing::Status::kOk) {
    io.err << "brivelton: the system's list of serial ports can't be "
           << (listing.status == PortListing::Status::kCantOpen ? "opened" : "queried")
           << "; the search falls back to these names\n";
    for (const auto& name : system.port_list.FallbackNames()) print(name);
    source = "fallback";
  } else {
    int count = 0;
    for (const auto& entry : listing.entries) {
      if (!entry || entry->empty()) continue;
      print(*entry);
      ++count;
    }
    if (count == 0)
      io.err << "brivelton: the system lists no serial ports; the search would stop at once\n";
    source = "system";
  }
  if (options.json) io.out << PortsJson(source, listed);
  io.out << std::flush;
  return kExitDone;
}

// Writes the image to --save's file; false with the reason on stderr. Written
// beside it first and renamed, so that a full disk leaves no part of a file.
bool SaveImage(const std::string& path, const FirmwareImage& firmware, CliIo& io) {
  // A device, a pipe or a link (--save /dev/stdout) is written into, never
  // replaced.
  std::error_code ec;
  const auto there = std::filesystem::symlink_status(path, ec);
  const bool beside = !std::filesystem::exists(there) || std::filesystem::is_regular_file(there);
  std::random_device random;
  char tail[24];
  std::snprintf(tail, sizeof tail, ".%08x.part", static_cast<unsigned>(random()));
  const std::string temp = beside ? path + tail : path;
  std::ofstream file(temp, std::ios::binary | std::ios::trunc);
  const auto image = firmware.bytes();
  if (file) file.write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
  if (file) file.close();
  const int write_error = errno;
  std::error_code renamed;
  if (file && beside) std::filesystem::rename(temp, path, renamed);
  if (file && !renamed) return true;
  std::error_code ignored;
  if (beside) std::filesystem::remove(temp, ignored);
  io.err << "brivelton: can't write " << path << ": "
         << (file ? renamed.message() : std::strerror(write_error)) << '\n';
  return false;
}

int ShowFirmware(const Options& options, const FirmwareImage& firmware, CliIo& io) {
  if (options.json) {
    const bool saved = !options.save_path || SaveImage(*options.save_path, firmware, io);
    io.out << FirmwareJson(firmware, saved ? options.save_path : std::nullopt) << std::flush;
    return saved ? kExitDone : kExitFailed;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%03X", static_cast<unsigned>(firmware.version()));
  io.out << "version: " << VersionText(firmware.version()) << " (" << hex << ")\n";
  if (firmware.placeholder()) io.out << "note: " << kPlaceholderNote << '\n';
  io.out << "size: " << firmware.bytes().size() << " bytes\n";
  io.out << "checksum:";
  for (uint8_t b : firmware.checksum()) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    io.out << hex;
  }
  io.out << '\n';
  if (!options.save_path) return kExitDone;
  if (!SaveImage(*options.save_path, firmware, io)) return kExitFailed;
  io.out << "saved: " << *options.save_path << '\n';
  return kExitDone;
}

void PrintSettings(const SettingsValues& values, CliIo& io) {
  for (const auto& line : FormatSettings(values)) io.out << line << '\n';
  io.out << std::flush;
}

// What the journal holds for an adapter whose page carries no address of its
// own, and which entry `update` would take, as `update` decides it.
void ShowSavedEntries(const std::string& port, const Updater& updater, CliIo& io) {
  const AddressDecision choice = DecideAddress(updater.options(), port, updater.page_address());
  for (const auto& problem : choice.problems)
    io.err << "brivelton:" << LeftAloneLine(problem) << '\n';
  for (const auto& entry : choice.saved)
    io.err << "brivelton: " << Shown(entry.file) << " keeps the address "
           << FormatBtAddress(entry.address) << " for " << Shown(entry.port) << " (saved "
           << Shown(entry.saved) << ")"
           << (!choice.undecided && entry.address == choice.address ? "; brivelton update uses it"
                                                                     : "")
           << '\n';
  if (choice.undecided || choice.nothing_saved)
    io.err << "brivelton: give the adapter's address (its label, or the phone's list of "
              "paired devices) with brivelton update --address\n";
}

// After the results: why the identity page carries no address of the
// adapter's own, and what the journal still holds for it.
int IdentityNotes(const DeviceOutcome& outcome, const Updater& updater, CliIo& io) {
  if (!outcome.page_read) {
    io.err << "brivelton: the identity page could not be read\n" << std::flush;
    return kExitFailed;
  }
  if (outcome.page_address && *outcome.page_address != kDefaultBtAddress) return kExitDone;
  // A blank page: the next update writes the start-up address unless told
  // better, so the status is the same as for that address on the page.
  if (outcome.page_address)
    io.err << "brivelton: " << MeaninglessAddressReason(kDefaultBtAddress)
           << ", not this adapter's own\n";
  else
    io.err << "brivelton: the identity page carries no Bluetooth address\n";
  ShowSavedEntries(outcome.device.port, updater, io);
  io.err << std::flush;
  return kExitStartUpAddress;
}

// The adapter's firmware version after Check Device; none when none came.
std::optional<uint32_t> ReadVersion(const AdapterFacts& facts) {
  if (!facts.DeviceVersion) return std::nullopt;
  return static_cast<uint32_t>(*facts.DeviceVersion);
}

const char* OutcomeName(SettingsOutcome outcome) {
  switch (outcome) {
    case SettingsOutcome::kNotSupported: return "not-supported";
    case SettingsOutcome::kNoPort: return "no-port";
    case SettingsOutcome::kFailed: return "failed";
    case SettingsOutcome::kCancelled: return "read";  // nothing was asked to change
    case SettingsOutcome::kWritten: return "written";
  }
  return "";
}

int SettingsStatus(SettingsOutcome outcome) {
  switch (outcome) {
    case SettingsOutcome::kWritten:
    case SettingsOutcome::kCancelled: return kExitDone;
    case SettingsOutcome::kNotSupported: return kExitRefused;
    case SettingsOutcome::kNoPort:
    case SettingsOutcome::kFailed: return kExitFailed;
  }
  return kExitFailed;
}

// Check Device found the adapter: `update` from there.
int RunUpdate(const Options& options, ProtocolStack& stack, MainDialog& dialog, CliView& view,
              const DeviceFacts& device, const FirmwareImage& firmware, UpdateFacts& facts) {
  facts.version_after = device.version;
  // An unread version may be a blank or broken firmware: that one is updated.
  if (options.if_older && device.version && *device.version >= firmware.version()) {
    stack.log.LogLine(" Firmware %03X is not older than %03X: nothing updated (--if-older)",
                      static_cast<unsigned>(*device.version),
                      static_cast<unsigned>(firmware.version()));
    facts.outcome = "up-to-date";
    return kExitDone;
  }
  stack.updater.options().given_address =
      options.startup_address ? std::optional<BtAddressBytes>(kDefaultBtAddress) : options.address;
  const UpdateOutcome outcome = dialog.OnUpdateFirmware();
  view.EndProgress();
  facts.attempts = view.attempts();
  facts.address = stack.updater.address_decision();
  if (facts.address) facts.journal_file = facts.address->journal_file;
  switch (outcome) {
    case UpdateOutcome::kCancelled:
      facts.outcome = "cancelled";
      return kExitCancelled;
    case UpdateOutcome::kRefusedUndecided:
      // Nothing was erased and nothing is claimed: the view named the choices.
      facts.outcome = "refused";
      return kExitRefused;
    case UpdateOutcome::kStoppedBeforeErase:
      // Nothing erased: the adapter keeps its firmware and its page.
      facts.outcome = "refused";
      return kExitRefused;
    case UpdateOutcome::kSucceeded:
    case UpdateOutcome::kFailed: break;
  }
  const bool success = outcome == UpdateOutcome::kSucceeded;
  facts.outcome = success ? "updated" : "failed";
  facts.journal_kept = !success;
  facts.version_after = success ? std::optional<uint32_t>(firmware.version()) : std::nullopt;
  return success ? kExitDone : kExitFailed;
}

// What `update` says beside its results on either view: why nothing was
// done, and the verdict (on `verdict_to`).
void UpdateWords(const DeviceOutcome& outcome, const FirmwareImage& firmware, bool nothing_to_do,
                 std::ostream& verdict_to, CliIo& io) {
  const std::string said = outcome.update.outcome;
  if (said == "up-to-date" && nothing_to_do)
    io.err << "brivelton: nothing to do: the adapter's firmware "
           << VersionText(*outcome.device.version) << " is not older than "
           << VersionText(firmware.version()) << " (--if-older)\n"
           << std::flush;
  if (said == "updated" || said == "failed")
    verdict_to << (said == "updated" ? ui::UpdateSucceededText() : ui::UpdateFailedText())
               << '\n' << std::flush;
}

// The results as text: the log already went to stdout.
void ShowText(const DeviceOutcome& outcome, const FirmwareImage& firmware, CliIo& io) {
  switch (outcome.command) {
    case Command::kUpdate: UpdateWords(outcome, firmware, true, io.out, io); break;
    case Command::kIdentity:
      if (outcome.page_read && outcome.page_address)
        io.out << "address: " << FormatBtAddress(*outcome.page_address) << '\n'
               << "name: " << outcome.page_name << '\n';
      break;
    case Command::kSettings:
      if (outcome.values) PrintSettings(*outcome.values, io);
      break;
    default: break;
  }
  io.out << std::flush;
}

// The results as one JSON object on stdout; the log and the verdict went to
// stderr.
void ShowJson(const DeviceOutcome& outcome, const Options& options, const FirmwareImage& firmware,
              CliIo& io) {
  // Said once on stderr even with -q; without it the log line already is.
  if (outcome.command == Command::kUpdate)
    UpdateWords(outcome, firmware, options.quiet, io.err, io);
  io.out << OutcomeJson(outcome, firmware) << std::flush;
}

int RunDeviceCommand(const Options& options, Platform& system, const FirmwareImage& firmware,
                     CliIo& io) {
  const uint64_t started_ms = system.clock.NowMs();
  FixedPortList given(options.ports, {}, &system.port_list);
  PortErrorLines ports(system.ports, io.err);
  Platform platform{ports, system.clock,
                    options.ports.empty() ? system.port_list : given, system.state};
  CliView view(io, options, firmware);
  LineSink trace;
  if (options.verbose) trace = [&view](const std::string& line) { view.AppendTrace(line); };
  ProtocolStack stack(platform, [&view](const std::string& line) { view.AppendLog(line); },
                      std::move(trace), firmware);
  view.set_log(stack.log);
  view.set_stack(stack);
  MainDialog dialog(view, stack);

  DeviceOutcome outcome;
  outcome.command = options.command;
  DeviceFacts& device = outcome.device;
  device.found = dialog.OnCheckDevice();
  if (device.found) {
    device.port = stack.link.state().PortName;
    device.version = ReadVersion(stack.facts);
  }
  int status = device.found ? kExitDone : kExitNoAdapter;
  if (device.found && options.command == Command::kUpdate)
    status = RunUpdate(options, stack, dialog, view, device, firmware, outcome.update);
  if (device.found && options.command == Command::kIdentity) {
    outcome.page_read = stack.updater.InspectIdentity();
    if (outcome.page_read) {
      outcome.page_address = stack.updater.page_address();
      outcome.page_name = stack.updater.page_name();
    }
  }
  if (device.found && options.command == Command::kSettings) {
    const SettingsOutcome settings = dialog.OnSetting();
    outcome.settings = OutcomeName(settings);
    // Nothing to change: the values as read; after OK those now on the adapter.
    outcome.values = settings == SettingsOutcome::kCancelled ? view.settings_shown()
                     : settings == SettingsOutcome::kWritten ? view.settings_ok()
                                                             : std::nullopt;
    status = SettingsStatus(settings);
  }
  outcome.update.seconds = static_cast<double>(system.clock.NowMs() - started_ms) / 1000.0;

  if (options.json)
    ShowJson(outcome, options, firmware, io);
  else
    ShowText(outcome, firmware, io);
  if (device.found && options.command == Command::kIdentity)
    status = IdentityNotes(outcome, stack.updater, io);
  return status;
}

}  // namespace

int RunCli(std::span<const std::string> args, Platform& system, CliIo& io) {
  auto parsed = ParseArgs(args);
  if (!parsed) {
    io.err << "brivelton: " << parsed.error().text() << '\n' << std::flush;
    return kExitUsage;
  }
  Options& options = *parsed;
  // A firmware file is read and checked before any port is touched.
  const auto loaded = LoadFirmwareFile(options.image);
  if (!loaded) {
    io.err << "brivelton: " << loaded.error().text() << '\n' << std::flush;
    return kExitRefused;
  }
  const FirmwareImage& firmware = *loaded ? **loaded : BuiltInImage();
  if (options.version) {
    io.out << VersionLines("brivelton") << std::flush;
    return kExitDone;
  }
  if (options.ports.empty() && io.port_environment)
    options.ports = PortsFromEnvironment(io.port_environment);
  switch (options.command) {
    case Command::kHelp:
      io.out << HelpText();
      return kExitDone;
    case Command::kSettingsHelp:
      for (const char* line : SettingsHelpLines()) io.out << line << '\n';
      return kExitDone;
    case Command::kFirmware:
      return ShowFirmware(options, firmware, io);
    case Command::kPorts:
      return ListPorts(options, system, io);
    case Command::kCheck:
    case Command::kUpdate:
    case Command::kIdentity:
    case Command::kSettings:
      return RunDeviceCommand(options, system, firmware, io);
  }
  return kExitUsage;
}

}  // namespace brivelton::cli
