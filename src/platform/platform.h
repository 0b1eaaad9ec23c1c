#pragma once
#include "platform/clock.h"
#include "platform/port_list.h"
#include "platform/serial_device.h"

namespace brivelton {

// What the protocol code needs of the machine it runs on.
struct Platform {
  SerialPorts& ports;
  Clock& clock;
  PortList& port_list;
};

}  // namespace brivelton
