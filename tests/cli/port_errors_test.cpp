// SPDX-License-Identifier: MIT
// A port that fails the tool: the log keeps its own lines, and one more line
// on stderr names the port and the system's reason, in every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "cli/port_errors.h"
#include "cli_harness.h"
#include "sim/virtual_adapter.h"

namespace brivelton::testing {
namespace {

constexpr const char* kFailingPort = "/dev/ttyUSB0";

struct PortErrorCase {
  const char* name;
  std::function<void(CliHarness&, sim::VirtualAdapter&)> arrange;
  const char* log_line;  // the prescribed line the log keeps
  std::vector<std::string> err;
};

TEST(CliPortErrors, NameThePortAndTheReasonBesideThePrescribedLines) {
  const std::string nope = "brivelton: /dev/ttyNOPE: no such device";
  const PortErrorCase cases[] = {
      {"missing port", nullptr, " COM port may be used by others.", {nope}},
      {"held by another program",
       [](CliHarness&, sim::VirtualAdapter& adapter) { adapter.line().set_busy(true); },
       " COM port may be used by others.",
       {nope, "brivelton: /dev/ttyUSB0: held by another program"}},
      {"permission denied",
       [](CliHarness& h, sim::VirtualAdapter&) {
         h.ports.faults.refused = {kFailingPort};
         h.ports.faults.open_error = OpenError::kPermission;
         h.ports.group_to_join = "dialout";
       },
       " COM port may be used by others.",
       {nope, "brivelton: /dev/ttyUSB0: permission denied (join the group 'dialout': sudo "
              "usermod -aG dialout $USER, then log in again)"}},
      {"speed refused",
       [](CliHarness& h, sim::VirtualAdapter&) { h.ports.faults.set_state = true; },
       "    Error! in Setting DCB Structure",
       {nope, "brivelton: /dev/ttyUSB0: the port refused the speed 115200 baud",
        "brivelton: /dev/ttyUSB0: the port refused the speed 1000000 baud"}},
  };
  for (const PortErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    CliHarness h;
    sim::VirtualAdapter adapter(h.virtual_ports, kFailingPort);
    std::vector<std::string> args = {"--port", "/dev/ttyNOPE", "check"};
    if (c.arrange) {
      c.arrange(h, adapter);
      args.insert(args.begin() + 2, {"--port", kFailingPort});
    }
    const CliRun run = h.Run(args);
    EXPECT_NE(run.status, 0);
    const auto out = Lines(run.out);
    EXPECT_NE(std::find(out.begin(), out.end(), c.log_line), out.end()) << run.out;
    // Once each, however often the search tried the port.
    EXPECT_EQ(Lines(run.err), c.err);
  }
}

TEST(CliPortErrors, WordsForEveryOpenError) {
  EXPECT_EQ(cli::OpenErrorWords(OpenError::kNotFound, ""), "no such device");
  EXPECT_EQ(cli::OpenErrorWords(OpenError::kBusy, ""), "held by another program");
  EXPECT_EQ(cli::OpenErrorWords(OpenError::kPermission, ""), "permission denied");
  EXPECT_EQ(cli::OpenErrorWords(OpenError::kOther, ""), "not a serial port this system can open");
}

}  // namespace
}  // namespace brivelton::testing
