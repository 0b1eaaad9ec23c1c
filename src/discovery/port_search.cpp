// SPDX-License-Identifier: MIT
// Finding the port the adapter is on, and restarting the adapter.
#include "discovery/discovery.h"

namespace brivelton {

Discovery::Discovery(Link& link, AdapterFacts& facts, PortList& port_list,
                     uint32_t available_version)
    : link_(link),
      state_(link.state()),
      facts_(facts),
      log_(link.log()),
      port_list_(port_list),
      available_version_(available_version) {}

void Discovery::RestartDevice() {
  // The adapter may be in its boot loader at the high speed or running its
  // firmware at the low one: say it at both.
  link_.ConfigurePort(kBootLoaderBaud);
  link_.Exchange(CommandKind::ResetStepA);
  link_.Exchange(CommandKind::ResetStepB);
  link_.ConfigurePort(kFirmwareBaud);
  link_.Exchange(CommandKind::ResetStepA);
  link_.Exchange(CommandKind::ResetStepB);
}

bool Discovery::ProbePort(const std::string& name) {
  OpenError error = OpenError::kNone;
  if (!OpenPort(state_, link_.ports(), log_, name, &error)) {
    if (error == OpenError::kPermission && denied_port_.empty())
      denied_port_ = name;
    return false;
  }
  if (!link_.ConfigurePort(kFirmwareBaud) || !link_.ArmPortEvents()) {
    link_.ClosePort();
    return false;
  }
  bool r = link_.Exchange(CommandKind::LinkCheck).ok;
  if (!r) {
    RestartDevice();
    link_.ConfigurePort(kFirmwareBaud);
    r = link_.Exchange(CommandKind::LinkCheck).ok;
  }
  link_.ClosePort();
  return r;
}

void Discovery::FoundPort(const std::string& name) {
  state_.PortName = name;
  log_.LogLine(" Found device on %s", state_.PortName.c_str());
}

void Discovery::LogDeniedPort() {
  // A busy port says nothing, but a port the user may not open is worth a
  // hint: it is the usual reason a plugged-in adapter is not found on Linux.
  if (!denied_port_.empty())
    log_.LogLine(" No permission to open %s (on most Linux systems, join the 'dialout' group).",
                 denied_port_.c_str());
}

bool Discovery::FallbackScan() {
  for (const std::string& name : port_list_.FallbackNames()) {
    if (ProbePort(name)) {
      FoundPort(name);
      return true;
    }
  }
  log_.LogLine(" Scan all the COM ports and can't find the device.");
  LogDeniedPort();
  return false;
}

bool Discovery::FindDevice() {
  log_.LogLine(" Search Device ...");
  if (state_.is_open()) link_.ClosePort();
  denied_port_.clear();

  const PortListing listing = port_list_.List();
  switch (listing.status) {
    case PortListing::Status::kCantOpen:
      log_.LogLine(" Can't find comm port registry key");
      return FallbackScan();
    case PortListing::Status::kCantQuery:
      log_.LogLine(" Can't query comm port information");
      return FallbackScan();
    case PortListing::Status::kOk:
      break;
  }
  if (listing.entries.empty()) {
    log_.LogLine(" No COM port available, Device may not attached.");
    return false;
  }
  for (const auto& entry : listing.entries) {
    if (!entry) continue;  // unreadable value
    if (ProbePort(*entry)) {
      FoundPort(*entry);
      return true;
    }
  }
  log_.LogLine(" Can't find device.");
  log_.LogLine(" COM port may be used by others.");
  LogDeniedPort();
  return false;
}

}  // namespace brivelton
