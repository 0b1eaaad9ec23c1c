// SPDX-License-Identifier: MIT
#include "cli/cli_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/cli_args.h"
#include "link/bt_address.h"

namespace brivelton::cli {

namespace {

// Fields in the order the manual page lists them.
using Json = nlohmann::ordered_json;

std::string Hex(uint32_t version) {
  char text[8];
  std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(version));
  return text;
}

Json ImageJson(const FirmwareImage& image) {
  std::string checksum;
  for (uint8_t b : image.checksum()) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b);
    checksum += hex;
  }
  return {{"version", Hex(image.version())},
          {"version_number", image.version()},
          {"version_text", VersionText(image.version())},
          {"size", image.bytes().size()},
          {"checksum", checksum},
          {"placeholder", image.placeholder()}};
}

Json DeviceJson(const DeviceFacts& device, const FirmwareImage& image) {
  Json json = {{"found", device.found}, {"port", nullptr}, {"firmware_version", nullptr},
               {"firmware_version_number", nullptr}, {"update_available", nullptr}};
  if (device.found) json["port"] = device.port;
  if (device.version) {
    json["firmware_version"] = Hex(*device.version);
    json["firmware_version_number"] = *device.version;
    json["update_available"] = *device.version < image.version();
  }
  json["image"] = ImageJson(image);
  return json;
}

std::string Dumped(const Json& json) {
  Json versioned = {{"format", kJsonFormat}};
  versioned.update(json);
  // Bytes that are not UTF-8 (a device name off a blank page) are replaced
  // rather than ending the program.
  return versioned.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const char* SourceName(AddressSource source) {
  switch (source) {
    case AddressSource::kPage: return "page";
    case AddressSource::kSaved: return "saved";
    case AddressSource::kGiven: return "given";
    case AddressSource::kTyped: return "typed";
    case AddressSource::kStartUp: return "start-up";
  }
  return "";
}

}  // namespace

std::string CheckJson(const DeviceFacts& device, const FirmwareImage& image) {
  return Dumped(DeviceJson(device, image));
}

std::string IdentityJson(const DeviceFacts& device, const FirmwareImage& image,
                         const std::optional<BtAddressBytes>& address,
                         const std::optional<std::string>& name) {
  Json json = DeviceJson(device, image);
  json["address"] = address ? Json(FormatBtAddress(*address)) : Json(nullptr);
  json["name"] = name ? Json(*name) : Json(nullptr);
  return Dumped(json);
}

std::string SettingsJson(const DeviceFacts& device, const FirmwareImage& image,
                         const char* outcome, const std::optional<SettingsValues>& values) {
  Json json = DeviceJson(device, image);
  json["outcome"] = outcome;
  json["settings"] = nullptr;
  if (values) {
    Json settings = Json::object();
    for (const auto& line : FormatSettings(*values)) {
      const size_t eq = line.find('=');
      settings[line.substr(0, eq)] = line.substr(eq + 1);
    }
    json["settings"] = settings;
  }
  return Dumped(json);
}

std::string UpdateJson(const DeviceFacts& device, const FirmwareImage& image,
                       const UpdateFacts& update) {
  Json json = DeviceJson(device, image);
  json["outcome"] = update.outcome;
  json["attempts"] = update.attempts;
  json["firmware_version_after"] = nullptr;
  json["firmware_version_after_number"] = nullptr;
  if (update.version_after) {
    json["firmware_version_after"] = Hex(*update.version_after);
    json["firmware_version_after_number"] = *update.version_after;
  }
  json["address"] = nullptr;
  json["address_source"] = nullptr;
  if (update.address) {
    json["address"] = FormatBtAddress(update.address->address);
    json["address_source"] = SourceName(update.address->source);
  }
  json["journal"] = nullptr;
  if (!update.journal_file.empty())
    json["journal"] = {{"file", update.journal_file},
                       {"entry", update.journal_kept ? "kept" : "removed"}};
  // Tenths: the clock's milliseconds say more than a script needs.
  json["seconds"] = static_cast<double>(static_cast<long long>(update.seconds * 10 + 0.5)) / 10;
  return Dumped(json);
}

std::string OutcomeJson(const DeviceOutcome& outcome, const FirmwareImage& image) {
  switch (outcome.command) {
    case Command::kIdentity:
      return IdentityJson(
          outcome.device, image, outcome.page_read ? outcome.page_address : std::nullopt,
          outcome.page_read ? std::optional<std::string>(outcome.page_name) : std::nullopt);
    case Command::kSettings:
      return SettingsJson(outcome.device, image, outcome.settings, outcome.values);
    case Command::kUpdate: return UpdateJson(outcome.device, image, outcome.update);
    case Command::kCheck:
    case Command::kHelp:
    case Command::kSettingsHelp:
    case Command::kFirmware:
    case Command::kPorts: break;  // only check reaches an adapter besides those above
  }
  return CheckJson(outcome.device, image);
}

std::string FirmwareJson(const FirmwareImage& image, const std::optional<std::string>& saved) {
  return Dumped({{"image", ImageJson(image)}, {"saved", saved ? Json(*saved) : Json(nullptr)}});
}

std::string PortsJson(const char* source, const std::vector<PortFacts>& ports) {
  Json list = Json::array();
  for (const auto& port : ports) {
    Json details = Json::object();
    for (const auto& d : port.details) details[d.label] = d.value;
    list.push_back({{"name", port.name}, {"details", details}});
  }
  return Dumped({{"source", source}, {"ports", list}});
}

}  // namespace brivelton::cli
