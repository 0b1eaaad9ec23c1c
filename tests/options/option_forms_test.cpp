// SPDX-License-Identifier: MIT
// The forms of a command line, read alike by the tool and the simulator:
// each form is given to both, with a text option (the tool's --port, the
// simulator's --link), --verbose and -h, and both must take it or both
// refuse it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "sim/sim_options.h"

namespace brivelton {
namespace {

using Args = std::vector<std::string>;

// What a program made of a line; `taken` false: refused.
struct Reading {
  bool taken = false;
  std::string value;  // of the text option
  bool verbose = false;
  bool help = false;
  bool operator==(const Reading&) const = default;
};

void PrintTo(const Reading& r, std::ostream* out) {
  *out << (r.taken ? "taken" : "refused") << " value='" << r.value << "'"
       << (r.verbose ? " verbose" : "") << (r.help ? " help" : "");
}

// "TEXT" stands for each program's text option.
Args Spelled(const Args& form, const char* text_option) {
  Args args;
  for (std::string arg : form) {
    if (arg.starts_with("TEXT")) arg.replace(0, 4, text_option);
    args.push_back(arg);
  }
  return args;
}

Reading Tool(const Args& form) {
  // The tool's line needs a command: after the form, so after any "--" too.
  Args args = Spelled(form, "--port");
  args.push_back("check");
  cli::Options options;
  std::string error;
  if (!cli::ParseArgs(args, options, error)) return {};
  const bool help = options.command == cli::Command::kHelp;
  return {true, options.ports.empty() ? "" : options.ports[0], options.verbose, help};
}

Reading Simulator(const Args& form) {
  sim::SimOptions options;
  std::string error;
  if (!sim::ParseSimOptions(Spelled(form, "--link"), options, error)) return {};
  return {true, options.link, options.verbose, options.help};
}

TEST(OptionForms, TheToolAndTheSimulatorReadEachFormAlike) {
  const std::pair<Args, Reading> forms[] = {
      {{"TEXT", "/tmp/a"}, {true, "/tmp/a"}},
      {{"TEXT=/tmp/a"}, {true, "/tmp/a"}},
      // A value is taken whole, whatever it reads like.
      {{"TEXT", "--verbose"}, {true, "--verbose"}},
      {{"TEXT", "--"}, {true, "--"}},
      {{"TEXT="}, {}},
      {{"--verbose=yes"}, {}},
      {{"--help=yes"}, {}},
      // Bundled short switches.
      {{"-hh"}, {true, "", false, true}},
      // "--" ends the options.
      {{"--verbose", "--"}, {true, "", true}},
      {{"--", "--verbose"}, {}},
      {{"--verbose", "TEXT", "/tmp/b", "--"}, {true, "/tmp/b", true}},
  };
  for (const auto& [form, reading] : forms) {
    SCOPED_TRACE(::testing::PrintToString(form));
    EXPECT_EQ(Tool(form), reading);
    EXPECT_EQ(Simulator(form), reading);
  }
}

}  // namespace
}  // namespace brivelton
