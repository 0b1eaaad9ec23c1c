// SPDX-License-Identifier: MIT
// brivelton: the command-line front end on the real machine.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/checked_stdout.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "platform/clock.h"
#include "platform/state_store.h"
#ifdef _WIN32
#include "platform/win32/win32_port_list.h"
#include "platform/win32/win32_serial.h"
#else
#include "platform/posix/linux_port_list.h"
#include "platform/posix/posix_serial.h"
#include "platform/posix/standard_streams.h"
#endif

namespace {

#ifdef _WIN32
using SystemSerialPorts = brivelton::Win32SerialPorts;
using SystemPortList = brivelton::Win32RegistryPortList;

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }
#else
using SystemSerialPorts = brivelton::PosixSerialPorts;
using SystemPortList = brivelton::LinuxSysfsPortList;

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace brivelton;
#ifndef _WIN32
  // Before any port opens: a port opened as descriptor 2 would carry the
  // error messages onto the serial line. (On Windows a missing standard
  // handle already swallows what is written.)
  OpenMissingStandardStreams();
#endif
#ifdef SIGPIPE
  // A reader that goes away (`brivelton update --yes | head`) must not kill an
  // update halfway through the flash: the log is lost, the update goes on.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  SystemSerialPorts ports;
  SystemClock clock;
  SystemPortList port_list;
  FileStateStore state(DefaultStateDirectory());
  Platform platform{ports, clock, port_list, &state};
  cli::CheckedStdout out;
  cli::CliIo io{out.stream(), std::cerr, std::cin, IsTerminal(stdin), IsTerminal(stderr),
                &cli::InstallInterruptHandlers(), std::getenv("BRIVELTON_PORT")};
  return out.Finish(cli::RunCli(args, platform, io), std::cerr);
}
