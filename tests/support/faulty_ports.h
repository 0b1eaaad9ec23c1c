#pragma once
// Wraps a SerialPorts so that tests can make single port operations fail and
// see what the link asked of the port.
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace brivelton::testing {

struct PortFaults {
  bool get_state = false;
  bool set_state = false;
  bool set_timeouts = false;
  bool set_event_mask = false;
  OpenError open_error = OpenError::kNone;  // for names in `refused`
  std::vector<std::string> refused;
};

class FaultyPorts : public SerialPorts {
 public:
  explicit FaultyPorts(SerialPorts& inner) : inner_(inner) {}
  std::unique_ptr<SerialDevice> Open(const std::string& name, OpenError* error) override;

  PortFaults faults;
  std::vector<std::string> opened;  // every name asked for, in order
  std::vector<size_t> read_sizes;   // size of every read asked for

 private:
  SerialPorts& inner_;
};

}  // namespace brivelton::testing
