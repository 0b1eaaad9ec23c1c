// SPDX-License-Identifier: MIT
// brivelton-utility: the utility's window on Linux.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/window_args.h"
#include "gui/qt/main_window.h"
#include "platform/clock.h"
#include "platform/posix/linux_port_list.h"
#include "platform/posix/posix_serial.h"
#include "platform/state_store.h"

int main(int argc, char** argv) {
  // Help and the version need no display; everything else is read once Qt
  // took its own options (-platform, -display, ...) out.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::fputs(brivelton::WindowUsage(), stdout);
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--version") {
      std::fputs(brivelton::VersionLines("brivelton-utility").c_str(), stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);

  std::vector<std::string> args;
  const QStringList given = QApplication::arguments();
  for (qsizetype i = 1; i < given.size(); ++i) args.push_back(given[i].toStdString());
  brivelton::WindowArgs options;
  std::string error;
  if (!brivelton::ParseWindowArgs(args, options, error)) {
    std::fprintf(stderr, "brivelton-utility: %s\n%s", error.c_str(),
                 brivelton::WindowUsage());
    return 2;
  }
  std::unique_ptr<brivelton::FirmwareImage> loaded;
  if (!brivelton::LoadFirmwareFile(options.image, loaded, error)) {
    std::fprintf(stderr, "brivelton-utility: %s\n", error.c_str());
    return 2;
  }

  brivelton::LinuxSysfsPortList system_list;
  std::unique_ptr<brivelton::FixedPortList> named_list;
  brivelton::PortList* port_list = &system_list;
  if (!options.ports.empty()) {
    named_list =
        std::make_unique<brivelton::FixedPortList>(options.ports, system_list.FallbackNames(),
                                                    &system_list);
    port_list = named_list.get();
  }
  brivelton::PosixSerialPorts serial_ports;
  brivelton::SystemClock clock;
  brivelton::FileStateStore state(brivelton::DefaultStateDirectory());
  brivelton::Platform platform{serial_ports, clock, *port_list, &state};

  brivelton::qt::MainWindow window(platform, {}, loaded ? *loaded : brivelton::BuiltInImage());
  window.exec();
  return 0;
}
