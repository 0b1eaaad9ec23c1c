// SPDX-License-Identifier: MIT
#pragma once
// The Windows port list read through a seam: the registry calls on one side,
// what their results and failures mean on the other, so that meaning builds
// and is tested everywhere.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/port_list.h"

namespace brivelton {

// The key listing the serial ports, as the registry gives it.
class RegistryPortKey {
 public:
  virtual ~RegistryPortKey() = default;
  virtual bool Open() = 0;
  // Closed only once opened.
  virtual void Close() = 0;
  virtual std::optional<uint32_t> ValueCount() = 0;
  // Value `index`: its type, its data into `data` and in `length` what the
  // registry says it returned, which may exceed `data`.
  virtual bool ReadValue(uint32_t index, uint32_t& type, std::span<uint8_t> data,
                         size_t& length) = 0;
  // Value `index`'s own name ("\\Device\\Serial0"), when it can be read.
  virtual std::optional<std::string> ValueName(uint32_t /*index*/) { return std::nullopt; }
};

// One entry per value, in the key's order; a value that cannot be read or
// holds no name is an empty entry. The key is closed on every way out.
PortListing ListRegistryPorts(RegistryPortKey& key);

// "device": the name of the value that lists `port`, which tells its driver;
// empty when no readable value lists it. The key is closed on every way out.
std::vector<PortDetail> RegistryPortDetails(RegistryPortKey& key, const std::string& port);

}  // namespace brivelton
