// SPDX-License-Identifier: MIT
#pragma once
// The tool's word on a port that fails it: beside the log's own lines (which
// name no port and no cause), one line on stderr naming the port and what
// the system said, once per port and cause in a run.
#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "platform/serial_device.h"

namespace brivelton::cli {

class PortErrorLines : public SerialPorts {
 public:
  PortErrorLines(SerialPorts& inner, std::ostream& err) : inner_(inner), err_(err) {}
  std::unique_ptr<SerialDevice> Open(const std::string& name, OpenError* error) override;
  std::string GroupToJoin(const std::string& name) override { return inner_.GroupToJoin(name); }

  // "brivelton: PORT: REASON", unless said already.
  void Say(const std::string& port, const std::string& reason);

 private:
  SerialPorts& inner_;
  std::ostream& err_;
  std::set<std::string> said_;
};

// Why `name` did not open, in words ("no such device").
std::string OpenErrorWords(OpenError error, const std::string& group_to_join);

}  // namespace brivelton::cli
