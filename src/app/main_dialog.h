#pragma once
// The main window's logic, free of any toolkit: which buttons show, the three
// button handlers, and every protocol routine that logs.
#include <cstdint>
#include <string>

#include "app/main_view.h"
#include "link/frames.h"
#include "link/link_state.h"
#include "platform/platform.h"

namespace brivelton {

inline constexpr uint32_t kParamError = 0x58535853;

class MainDialog {
 public:
  MainDialog(MainView& view, Platform& platform);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Message log.
  void LogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Serial port access.
  int ConfigurePort(uint32_t baud);
  int ArmPortEvents();
  void ClosePort();
  int ReopenFoundPort();

  // Command exchange.
  int SendFrame(int kind);
  int Exchange(int kind);
  int ReadReply(int expected);

  // Discovery and version.
  void RestartDevice();
  int ProbePort(const std::string& name);
  int FindDevice();
  int QueryFirmwareVersion();
  void OnCheckDevice();

  // Firmware update.
  int ReadIdentity();
  int EnterBootMode();
  int ProgramFlash();
  int ProgramDevice();
  void OnUpdateFirmware();

  // Parameters.
  uint32_t ReadParameter(int op);
  uint32_t WriteParameter(int op, uint32_t value);
  void OnSetting();

  LinkState& link() { return link_; }
  const LinkState& link() const { return link_; }
  Platform& platform() { return platform_; }
  MainView& view() { return view_; }

 private:
  int FallbackScan();
  bool FoundPort(const std::string& name);
  void LogDeniedPort();

  MainView& view_;
  Platform& platform_;
  LinkState link_;
  // The first port of the last search that could not be opened for lack of
  // permission; empty when there was none.
  std::string denied_port_;
};

// The one free port operation: open `name`, or accept the port already open.
int OpenPort(LinkState& link, SerialPorts& ports, const std::string& name,
             OpenError* error = nullptr);

}  // namespace brivelton
