// SPDX-License-Identifier: MIT
#pragma once
// The command-line front end, runnable in-process: main() hands it the real
// machine, tests a virtual one.
#include <iosfwd>
#include <span>
#include <string>

#include "platform/platform.h"

namespace brivelton::cli {

class Interrupts;

struct CliIo {
  std::ostream& out;  // the message log and the command's results
  std::ostream& err;  // errors, prompts, the progress bar, trace lines
  std::istream& in;   // the answer to the update warning
  bool stdin_tty = false;
  bool stderr_tty = false;
  // Told when the flash is being written; none in-process.
  Interrupts* interrupts = nullptr;
  // $BRIVELTON_PORT: the ports to probe when no --port is given.
  const char* port_environment = nullptr;
};

// Runs one command line (without the program name) and returns its exit
// status, one of ExitStatus (exit_status.h): a script acts on it without
// reading the words.
// `system.port_list` is the system's list; --port replaces it.
int RunCli(std::span<const std::string> args, Platform& system, CliIo& io);

}  // namespace brivelton::cli
