// SPDX-License-Identifier: MIT
#pragma once
// Wraps a SerialPorts so that tests can refuse opens, make single port
// operations fail, and see every open and read the host asked for.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace brivelton::testing {

struct PortFaults {
  bool get_state = false;
  bool set_state = false;
  bool set_timeouts = false;
  bool set_event_mask = false;
  // SetTimeouts fails while the line is set to this speed (0: never): a port
  // that cannot take it.
  uint32_t timeouts_fail_at_baud = 0;
  // Writes take at most this many bytes (the rest is lost), and say so.
  std::optional<size_t> write_limit;
  OpenError open_error = OpenError::kNone;  // for names in `refused`
  std::vector<std::string> refused;
  // Refused as busy once opened that many times (another program took it).
  std::map<std::string, int> busy_after;
};

class FaultyPorts : public SerialPorts {
 public:
  explicit FaultyPorts(SerialPorts& inner) : inner_(inner) {}
  std::unique_ptr<SerialDevice> Open(const std::string& name, OpenError* error) override;
  std::string GroupToJoin(const std::string&) override { return group_to_join; }

  int Opens(const std::string& name) const {
    return static_cast<int>(std::count(opened.begin(), opened.end(), name));
  }

  PortFaults faults;
  std::vector<std::string> opened;  // every name asked for, in order
  std::vector<size_t> read_sizes;   // size of every read asked for
  int purges = 0;                   // of any port opened through here
  std::string group_to_join;        // what GroupToJoin answers for every port

 private:
  SerialPorts& inner_;
};

}  // namespace brivelton::testing
