// brivelton-utility.exe: the main window, run modally until it closes.
#include "gui/win32/dialog.h"

#include <commctrl.h>

#include "gui/win32/main_window.h"
#include "platform/clock.h"
#include "platform/state_store.h"
#include "platform/win32_port_list.h"
#include "platform/win32_serial.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The settings dialog's drop-down lists are extended combo boxes; the
  // update shows a progress bar.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  brivelton::Win32SerialPorts ports;
  brivelton::SystemClock clock;
  brivelton::Win32RegistryPortList port_list;
  brivelton::FileStateStore state(brivelton::DefaultStateDirectory());
  brivelton::Platform platform{ports, clock, port_list, &state};
  brivelton::win32::MainWindow window(platform, [](const std::string& line) {
    OutputDebugStringA((line + "\n").c_str());
  });
  window.DoModal(nullptr);
  return 0;
}
