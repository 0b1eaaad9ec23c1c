// Opening, configuring and closing the one serial port the utility holds.
#include "app/main_dialog.h"
#include "app/message_log.h"

namespace brivelton {

namespace {
constexpr CommTimeouts kLinkTimeouts = {
    .read_interval_ms = 1,
    .read_total_multiplier_ms = 1,
    .read_total_constant_ms = 1,
    .write_total_multiplier_ms = 3,
    .write_total_constant_ms = 3,
};
}  // namespace

int OpenPort(LinkState& link, SerialPorts& ports, const std::string& name,
             OpenError* error) {
  if (error) *error = OpenError::kNone;
  if (link.is_open()) {
    Trace(" Port is opened");
    return 1;
  }
  OpenError why = OpenError::kNone;
  link.port = ports.Open(name, &why);
  if (!link.port) {
    if (error) *error = why == OpenError::kNone ? OpenError::kOther : why;
    Trace("\n    Warming! - Port '%s' is not available\n", name.c_str());
    return 0;
  }
  Trace("\n    Port %s Opened\n ", name.c_str());
  return 1;
}

int MainDialog::ConfigurePort(uint32_t baud) {
  if (!link_.is_open()) return 0;
  LineSettings settings;
  if (!link_.port->GetState(settings)) {
    LogLine("    Error! in GetCommState()");
    settings = LineSettings{};
  }
  settings.baud = baud;
  settings.data_bits = 8;
  settings.parity = 0;
  settings.stop_bits = 0;
  if (!link_.port->SetState(settings)) LogLine("    Error! in Setting DCB Structure");
  if (!link_.port->SetTimeouts(kLinkTimeouts)) {
    LogLine("    Error! in Setting Time Outs");
    return 0;
  }
  return 1;
}

int MainDialog::ArmPortEvents() {
  if (!link_.is_open()) return 0;
  if (!link_.port->SetEventMask(kEventRxChar)) {
    LogLine("    Error! in Setting CommMask");
    return 0;
  }
  return 1;
}

void MainDialog::ClosePort() {
  if (link_.port) {
    link_.port->Purge();
    link_.port->Flush();
    link_.port.reset();
  }
  Trace("Close COMM port");
}

int MainDialog::ReopenFoundPort() {
  return OpenPort(link_, platform_.ports, link_.PortName) &&
         ConfigurePort(115200) && ArmPortEvents();
}

}  // namespace brivelton
