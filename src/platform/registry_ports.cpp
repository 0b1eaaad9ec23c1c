// SPDX-License-Identifier: MIT
#include "platform/registry_ports.h"

#include <algorithm>
#include <array>

#include "platform/port_names.h"

namespace brivelton {

PortListing ListRegistryPorts(RegistryPortKey& key) {
  PortListing listing;
  if (!key.Open()) {
    listing.status = PortListing::Status::kCantOpen;
    return listing;
  }
  const std::optional<uint32_t> count = key.ValueCount();
  if (!count) {
    key.Close();
    listing.status = PortListing::Status::kCantQuery;
    return listing;
  }
  for (uint32_t index = 0; index < *count; ++index) {
    std::array<uint8_t, 256> data{};
    uint32_t type = 0;
    size_t length = 0;
    if (!key.ReadValue(index, type, data, length)) {
      listing.entries.emplace_back();
      continue;
    }
    const size_t returned = std::min(length, data.size());
    listing.entries.push_back(
        RegistryPortName(type, std::span<const uint8_t>(data.data(), returned)));
  }
  key.Close();
  return listing;
}

std::vector<PortDetail> RegistryPortDetails(RegistryPortKey& key, const std::string& port) {
  std::vector<PortDetail> details;
  const PortListing listing = ListRegistryPorts(key);
  for (size_t index = 0; index < listing.entries.size(); ++index) {
    if (listing.entries[index] != port) continue;
    if (!key.Open()) break;
    const auto name = key.ValueName(static_cast<uint32_t>(index));
    key.Close();
    if (name && !name->empty()) details.push_back({"device", *name});
    break;
  }
  return details;
}

}  // namespace brivelton
