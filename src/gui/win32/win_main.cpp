// SPDX-License-Identifier: MIT
// brivelton-utility.exe: the main window, run modally until it closes.
#include "gui/win32/dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/window_args.h"
#include "gui/win32/main_window.h"
#include "platform/clock.h"
#include "platform/state_store.h"
#include "platform/win32/win32_port_list.h"
#include "platform/win32/win32_serial.h"

namespace {

// The arguments after the program name, in the system's code page as the
// rest of the utility's texts are.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) {
    const int n = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(n > 0 ? size_t(n) : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    arg.pop_back();  // the NUL
    args.push_back(arg);
  }
  LocalFree(wide);
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The settings dialog's drop-down lists are extended combo boxes; the
  // update shows a progress bar.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  // The same command line as the Linux window's. Anything wrong is said
  // before the window opens.
  brivelton::WindowArgs options;
  std::string error;
  if (brivelton::ParseWindowArgs(Arguments(), options, error) &&
      (options.help || options.version)) {
    const std::string text = options.help ? brivelton::WindowUsage()
                                          : brivelton::VersionLines("brivelton-utility");
    MessageBoxA(nullptr, text.c_str(), "Brivelton Utility", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  std::unique_ptr<brivelton::FirmwareImage> loaded;
  if (!error.empty() || !brivelton::LoadFirmwareFile(options.image, loaded, error)) {
    MessageBoxA(nullptr, error.c_str(), "Brivelton Utility", MB_OK | MB_ICONERROR);
    return 2;
  }

  brivelton::Win32SerialPorts ports;
  brivelton::SystemClock clock;
  brivelton::Win32RegistryPortList system_list;
  // --port NAME: only those ports, in that order.
  brivelton::FixedPortList named_list(options.ports, system_list.FallbackNames(), &system_list);
  brivelton::PortList& port_list =
      options.ports.empty() ? static_cast<brivelton::PortList&>(system_list) : named_list;
  brivelton::FileStateStore state(brivelton::DefaultStateDirectory());
  brivelton::Platform platform{ports, clock, port_list, &state};
  brivelton::win32::MainWindow window(
      platform, [](const std::string& line) { OutputDebugStringA((line + "\n").c_str()); },
      loaded ? *loaded : brivelton::BuiltInImage());
  window.DoModal(nullptr);
  return 0;
}
