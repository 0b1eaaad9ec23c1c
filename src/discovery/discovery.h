// SPDX-License-Identifier: MIT
#pragma once
// Finding the port the adapter is on, waking it, and reading the version of
// the firmware it runs.
#include <cstdint>
#include <string>

#include "link/adapter_facts.h"
#include "link/link.h"
#include "platform/port_list.h"

namespace brivelton {

class Discovery {
 public:
  // `available_version` is the version of the image an update would write;
  // the version read is kept in `facts`.
  Discovery(Link& link, AdapterFacts& facts, PortList& port_list, uint32_t available_version);
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  void RestartDevice();
  // Whether the adapter answers on `name`.
  bool ProbePort(const std::string& name);
  // Whether a port with the adapter was found (its name kept in the link).
  bool FindDevice();
  // Whether a version came; it is kept in the adapter's facts.
  bool QueryFirmwareVersion();
  // After a search that found the adapter: reopen its port, read its version
  // and advise the user what to do next.
  void IdentifyDevice();

 private:
  bool FallbackScan();
  void FoundPort(const std::string& name);
  void LogDeniedPort();
  void LogAdvice();

  Link& link_;
  LinkState& state_;
  AdapterFacts& facts_;
  MessageLog& log_;
  PortList& port_list_;
  uint32_t available_version_;
  // The first port of the last search that could not be opened for lack of
  // permission; empty when there was none.
  std::string denied_port_;
};

}  // namespace brivelton
