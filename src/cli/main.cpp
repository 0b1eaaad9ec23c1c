// brivelton: the command-line front end on the real machine.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/interrupts.h"
#include "platform/clock.h"
#include "platform/linux_port_list.h"
#include "platform/posix_serial.h"
#include "platform/state_store.h"

int main(int argc, char** argv) {
  using namespace brivelton;
  // A reader that goes away (`brivelton update --yes | head`) must not kill an
  // update halfway through the flash: the log is lost, the update goes on.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  PosixSerialPorts ports;
  SystemClock clock;
  LinuxSysfsPortList port_list;
  FileStateStore state(DefaultStateDirectory());
  Platform platform{ports, clock, port_list, &state};
  cli::CliIo io{std::cout, std::cerr, std::cin, isatty(STDIN_FILENO) == 1,
                isatty(STDERR_FILENO) == 1, &cli::InstallInterruptHandlers(),
                std::getenv("BRIVELTON_PORT")};
  return cli::RunCli(args, platform, io);
}
