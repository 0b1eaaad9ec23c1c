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

}  // namespace brivelton
