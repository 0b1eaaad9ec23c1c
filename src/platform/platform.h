// SPDX-License-Identifier: MIT
#pragma once
#include "platform/clock.h"
#include "platform/port_list.h"
#include "platform/serial_device.h"
#include "platform/state_store.h"

namespace brivelton {

// What the protocol code needs of the machine it runs on.
struct Platform {
  SerialPorts& ports;
  Clock& clock;
  PortList& port_list;
  // Where an update keeps the address it is about to erase; none in tests
  // that do not look at it.
  StateStore* state = nullptr;
};

}  // namespace brivelton
