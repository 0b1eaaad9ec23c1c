// Finding the port the adapter is on, and restarting the adapter.
#include "app/main_dialog.h"

namespace brivelton {

namespace {
constexpr uint32_t kFirmwareBaud = 115200;
constexpr uint32_t kBootLoaderBaud = 1000000;
}  // namespace

void MainDialog::RestartDevice() {
  // The adapter may be in its boot loader at the high speed or running its
  // firmware at the low one: say it at both.
  ConfigurePort(kBootLoaderBaud);
  Exchange(ResetStepA);
  Exchange(ResetStepB);
  ConfigurePort(kFirmwareBaud);
  Exchange(ResetStepA);
  Exchange(ResetStepB);
}

int MainDialog::ProbePort(const std::string& name) {
  OpenError error = OpenError::kNone;
  if (!OpenPort(link_, platform_.ports, name, &error)) {
    if (error == OpenError::kPermission && denied_port_.empty())
      denied_port_ = name;
    return 0;
  }
  if (!ConfigurePort(kFirmwareBaud) || !ArmPortEvents()) {
    ClosePort();
    return 0;
  }
  int r = Exchange(LinkCheck);
  if (!r) {
    RestartDevice();
    ConfigurePort(kFirmwareBaud);
    r = Exchange(LinkCheck);
  }
  ClosePort();
  return r;
}

bool MainDialog::FoundPort(const std::string& name) {
  link_.PortName = name;
  LogLine(" Found device on %s", link_.PortName.c_str());
  return true;
}

void MainDialog::LogDeniedPort() {
  // A busy port says nothing, but a port the user may not open is worth a
  // hint: it is the usual reason a plugged-in adapter is not found on Linux.
  if (!denied_port_.empty())
    LogLine(" No permission to open %s (on most Linux systems, join the 'dialout' group).",
            denied_port_.c_str());
}

int MainDialog::FallbackScan() {
  for (const std::string& name : platform_.port_list.FallbackNames()) {
    if (ProbePort(name)) return FoundPort(name) ? 1 : 0;
  }
  LogLine(" Scan all the COM ports and can't find the device.");
  LogDeniedPort();
  return 0;
}

int MainDialog::FindDevice() {
  LogLine(" Search Device ...");
  if (link_.is_open()) ClosePort();
  denied_port_.clear();

  const PortListing listing = platform_.port_list.List();
  switch (listing.status) {
    case PortListing::Status::kCantOpen:
      LogLine(" Can't find comm port registry key");
      return FallbackScan();
    case PortListing::Status::kCantQuery:
      LogLine(" Can't query comm port information");
      return FallbackScan();
    case PortListing::Status::kOk:
      break;
  }
  if (listing.entries.empty()) {
    LogLine(" No COM port available, Device may not attached.");
    return 0;
  }
  for (const auto& entry : listing.entries) {
    if (!entry) continue;  // unreadable value
    if (ProbePort(*entry)) return FoundPort(*entry) ? 1 : 0;
  }
  LogLine(" Can't find device.");
  LogLine(" COM port may be used by others.");
  LogDeniedPort();
  return 0;
}

}  // namespace brivelton
