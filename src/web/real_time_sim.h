// SPDX-License-Identifier: MIT
#pragma once
// "Try it without an adapter": the simulator's adapter on its in-memory port,
// in real time. The port runs on its own virtual clock, which is held to the
// page's clock: moved up to it before each operation, and after an operation
// that moved it ahead (a read waiting out its time-out, a reply on its way)
// the page really waits until its clock has caught up.
#include <memory>

#include "platform/clock.h"
#include "platform/port_list.h"
#include "sim/virtual_adapter.h"
#include "sim/virtual_serial.h"

namespace brivelton::web {

inline constexpr const char* kSimulatedPortName = "Simulated adapter";

class RealTimeSim {
 public:
  RealTimeSim(sim::AdapterConfig config, Clock& real);
  RealTimeSim(const RealTimeSim&) = delete;
  RealTimeSim& operator=(const RealTimeSim&) = delete;
  ~RealTimeSim();

  SerialPorts& ports();
  Clock& clock();
  PortList& port_list() { return list_; }
  sim::DeviceModel& model() { return adapter_->model(); }

  // Virtual time up to real time (never back).
  void CatchUp();
  // Real time up to virtual time, in sleeps that yield to the page.
  void Pace();

 private:
  class Ports;
  class PacedClock;

  Clock& real_;
  uint64_t origin_ms_;
  VirtualClock virtual_clock_;
  VirtualSerialPorts virtual_ports_{virtual_clock_};
  std::unique_ptr<sim::VirtualAdapter> adapter_;
  FixedPortList list_{{kSimulatedPortName}};
  std::unique_ptr<Ports> ports_;
  std::unique_ptr<PacedClock> clock_;
};

}  // namespace brivelton::web
