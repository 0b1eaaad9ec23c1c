// SPDX-License-Identifier: MIT
#pragma once
// --json: each command's results as one JSON object, for scripts.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "link/bt_address.h"
#include "params/settings_values.h"
#include "platform/port_list.h"
#include "resources/firmware_image.h"
#include "update/updater.h"

namespace brivelton::cli {

// What Check Device learnt.
struct DeviceFacts {
  bool found = false;
  std::string port;                  // empty when not found
  std::optional<uint32_t> version;   // the adapter's firmware, when it was read
};

// How `update` ended, for its JSON object.
struct UpdateFacts {
  const char* outcome = "";  // updated, up-to-date, cancelled, refused, failed, not-found
  int attempts = 0;          // programming attempts begun
  std::optional<uint32_t> version_after;  // the adapter's firmware afterwards, when known
  std::optional<AddressDecision> address;  // the address written and where it came from
  // The journal file that keeps the address, and whether it still does.
  std::string journal_file;
  bool journal_kept = false;
  double seconds = 0;
};

// What a command on the adapter came to: what its text and its JSON show.
struct DeviceOutcome {
  Command command = Command::kCheck;
  DeviceFacts device;
  // identity: whether the page was read, and what it carries
  bool page_read = false;
  std::optional<BtAddressBytes> page_address;
  std::string page_name;
  // settings: how they ended, and the values to show
  const char* settings = "not-found";
  std::optional<SettingsValues> values;
  UpdateFacts update{.outcome = "not-found"};
};

struct PortFacts {
  std::string name;
  std::vector<PortDetail> details;
};

// The version of the objects' format: it grows when a field is added, and
// changes only for what the manual page allows.
inline constexpr int kJsonFormat = 1;

// Each ends with a newline; each starts with "format".
std::string CheckJson(const DeviceFacts& device, const FirmwareImage& image);
std::string IdentityJson(const DeviceFacts& device, const FirmwareImage& image,
                         const std::optional<BtAddressBytes>& address,
                         const std::optional<std::string>& name);
// `values`: those now on the adapter, or those read when nothing was written.
std::string SettingsJson(const DeviceFacts& device, const FirmwareImage& image,
                         const char* outcome, const std::optional<SettingsValues>& values);
std::string UpdateJson(const DeviceFacts& device, const FirmwareImage& image,
                       const UpdateFacts& update);
// The command's own object: check, identity, settings or update.
std::string OutcomeJson(const DeviceOutcome& outcome, const FirmwareImage& image);
std::string FirmwareJson(const FirmwareImage& image, const std::optional<std::string>& saved);
// `source`: where the names came from ("system", "fallback", "given").
std::string PortsJson(const char* source, const std::vector<PortFacts>& ports);

}  // namespace brivelton::cli
