// SPDX-License-Identifier: MIT
#pragma once
// The host bench with a port list the test sets up, and no port found yet.
#include <string>
#include <vector>

#include "support/host_bench.h"

namespace brivelton::testing {

inline std::vector<std::string> ComNames(int first, int last) {
  std::vector<std::string> names;
  for (int i = first; i <= last; ++i) names.push_back("COM" + std::to_string(i));
  return names;
}

class DiscoveryFixture : public HostBench {
 public:
  DiscoveryFixture() {
    list.listing = {};
    list.fallback = ComNames(0, 24);
    AfterCheckDevice({.port = {}});
    ports.faults.open_error = OpenError::kPermission;
  }

  void SetPorts(std::vector<std::optional<std::string>> entries) {
    list.SetPorts(std::move(entries));
  }
  // Ports the user has no rights to open.
  void Deny(const std::vector<std::string>& names) {
    ports.faults.refused.insert(ports.faults.refused.end(), names.begin(), names.end());
  }
};

}  // namespace brivelton::testing
