// SPDX-License-Identifier: MIT
// Opening, configuring and closing the one serial port the utility holds.
#include "link/link.h"

namespace brivelton {

namespace {
constexpr CommTimeouts kLinkTimeouts = {
    .read_interval_ms = 1,
    .read_total_multiplier_ms = 1,
    .read_total_constant_ms = 1,
    .write_total_multiplier_ms = 3,
    .write_total_constant_ms = 3,
};
// A bridge timer above this costs an update noticeably: each of its
// exchanges waits for it.
constexpr uint32_t kSlowBridgeTimerMs = 2;
}  // namespace

OpenError OpenPort(LinkState& link, SerialPorts& ports, MessageLog& log, const std::string& name) {
  if (link.is_open()) {
    log.Trace(" Port is opened");
    return OpenError::kNone;
  }
  OpenError why = OpenError::kNone;
  link.port = ports.Open(name, &why);
  if (!link.port) {
    log.Trace("\n    Warming! - Port '%s' is not available\n", name.c_str());
    return why == OpenError::kNone ? OpenError::kOther : why;
  }
  link.OpenPortName = name;
  log.Trace("\n    Port %s Opened\n ", name.c_str());
  return OpenError::kNone;
}

Link::Link(SerialPorts& ports, Clock& clock, MessageLog& log)
    : ports_(ports), clock_(clock), log_(log) {}

bool Link::ConfigurePort(uint32_t baud) {
  if (!state_.is_open()) return false;
  LineSettings settings;
  if (!state_.port->GetState(settings)) {
    log_.LogLine("    Error! in GetCommState()");
    settings = LineSettings{};
  }
  settings.baud = baud;
  settings.data_bits = 8;
  settings.parity = Parity::kNone;
  settings.stop_bits = StopBits::kOne;
  if (!state_.port->SetState(settings)) log_.LogLine("    Error! in Setting DCB Structure");
  const LowLatency latency = state_.port->RequestLowLatency();
  // Named for the adapter's port only, not for every port the search tries.
  if (latency.bridge_timer_ms > kSlowBridgeTimerMs && state_.OpenPortName == state_.PortName &&
      slow_bridge_noted_ != state_.PortName) {
    slow_bridge_noted_ = state_.PortName;
    log_.LogLine(
        " The USB-serial bridge on %s holds short replies for %u ms; an update runs faster "
        "with its Latency Timer at 1 ms (Device Manager, the port's Properties, Port Settings, "
        "Advanced).",
        state_.PortName.c_str(), unsigned(latency.bridge_timer_ms));
  }
  if (!state_.port->SetTimeouts(kLinkTimeouts)) {
    log_.LogLine("    Error! in Setting Time Outs");
    return false;
  }
  return true;
}

bool Link::ArmPortEvents() {
  if (!state_.is_open()) return false;
  if (!state_.port->SetEventMask(kEventRxChar)) {
    log_.LogLine("    Error! in Setting CommMask");
    return false;
  }
  return true;
}

void Link::ClosePort() {
  if (state_.port) {
    state_.port->Purge();
    state_.port->Flush();
    state_.port.reset();
  }
  log_.Trace("Close COMM port");
}

bool Link::ReopenFoundPort() {
  return OpenPort(state_, ports_, log_, state_.PortName) == OpenError::kNone &&
         ConfigurePort(kFirmwareBaud) &&
         ArmPortEvents();
}

}  // namespace brivelton
