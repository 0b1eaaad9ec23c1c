// SPDX-License-Identifier: MIT
#pragma once
// --json: each command's results as one JSON object, for scripts.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "params/settings_values.h"
#include "platform/port_list.h"
#include "resources/firmware_image.h"

namespace brivelton::cli {

// What Check Device learnt.
struct DeviceFacts {
  bool found = false;
  std::string port;                  // empty when not found
  std::optional<uint32_t> version;   // the adapter's firmware, when it was read
};

struct PortFacts {
  std::string name;
  std::vector<PortDetail> details;
};

// Each ends with a newline.
std::string CheckJson(const DeviceFacts& device, const FirmwareImage& image);
std::string IdentityJson(const DeviceFacts& device, const FirmwareImage& image,
                         const std::optional<BtAddressBytes>& address,
                         const std::optional<std::string>& name);
// `values`: those now on the adapter, or those read when nothing was written.
std::string SettingsJson(const DeviceFacts& device, const FirmwareImage& image,
                         const char* outcome, const std::optional<SettingsValues>& values);
std::string FirmwareJson(const FirmwareImage& image, const std::optional<std::string>& saved);
// `source`: where the names came from ("system", "fallback", "given").
std::string PortsJson(const char* source, const std::vector<PortFacts>& ports);

}  // namespace brivelton::cli
