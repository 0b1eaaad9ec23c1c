// SPDX-License-Identifier: MIT
#pragma once
// Runs the command line in-process on virtual ports, counting every touch of
// a port or of the system's port list.
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/port_list.h"
#include "sim/virtual_serial.h"
#include "support/faulty_ports.h"
#include "support/host_bench.h"

namespace brivelton::testing {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

struct CliHarness {
  VirtualClock clock;
  VirtualSerialPorts virtual_ports{clock};
  FaultyPorts ports{virtual_ports};
  TablePortList port_list;
  Platform platform{ports, clock, port_list};
  // $BRIVELTON_PORT as the tool would find it; none: unset.
  std::optional<std::string> port_environment;

  CliRun Run(std::vector<std::string> args, const std::string& input = "",
             bool stdin_tty = false, bool stderr_tty = false) {
    std::ostringstream out, err;
    std::istringstream in(input);
    cli::CliIo io{out, err, in, stdin_tty, stderr_tty, nullptr,
                  port_environment ? port_environment->c_str() : nullptr};
    CliRun run;
    run.status = cli::RunCli(args, platform, io);
    run.out = out.str();
    run.err = err.str();
    return run;
  }
  bool Untouched() const {
    return ports.opened.empty() && port_list.lists == 0 && port_list.fallbacks == 0;
  }
};

// "a\nb\n" -> {"a", "b"}.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream stream(text);
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

}  // namespace brivelton::testing
