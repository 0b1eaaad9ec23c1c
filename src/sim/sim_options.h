// SPDX-License-Identifier: MIT
#pragma once
// The command line of brivelton-sim: the adapter's starting state, its
// faults, and how it is served.
#include <string>
#include <vector>

#include "sim/adapter_config.h"
#include "sim/device_model.h"

namespace brivelton::sim {

struct SimOptions {
  AdapterConfig config;
  std::string link;         // stable symlink to the pseudo-terminal
  std::string dump_flash;   // written at exit
  std::string dump_params;  // "op=value" lines, written at exit
  std::string dump_stray;   // the bytes heard that were part of no frame, at exit
  double time_scale = 1.0;  // device times are multiplied by it
  double wire_scale = 1.0;  // so is the time each byte from the host takes on the line
  bool verbose = false;
  bool help = false;
};

// `args` without the program name. False with a one-line message in `error`
// for anything it cannot take; files named by --flash and --image are read.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error);

const char* SimUsage();

void ScaleTiming(Timing& timing, double factor);

// "op=value" lines for ops 1 to 10.
std::string ParamsText(const DeviceModel& model);

}  // namespace brivelton::sim
