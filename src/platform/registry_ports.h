#pragma once
// The Windows port list read through a seam: the registry calls on one side,
// what their results and failures mean on the other, so that meaning builds
// and is tested everywhere.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

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
};

// One entry per value, in the key's order; a value that cannot be read or
// holds no name is an empty entry. The key is closed on every way out.
PortListing ListRegistryPorts(RegistryPortKey& key);

}  // namespace brivelton
