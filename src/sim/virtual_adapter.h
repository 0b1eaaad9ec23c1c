// SPDX-License-Identifier: MIT
#pragma once
// The simulated adapter behind an in-memory serial port, on virtual time.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/adapter_config.h"
#include "sim/device_model.h"
#include "sim/virtual_serial.h"

namespace brivelton::sim {

// Must outlive every open handle to its port: closing one calls back into it.
class VirtualAdapter : public VirtualPeer {
 public:
  // Adds port `name` to `ports` with this adapter behind it. The port is busy
  // when the configuration says so; later, line().set_busy() changes that.
  VirtualAdapter(VirtualSerialPorts& ports, const std::string& name,
                 AdapterConfig config = {});
  VirtualAdapter(const VirtualAdapter&) = delete;
  VirtualAdapter& operator=(const VirtualAdapter&) = delete;

  DeviceModel& model() { return model_; }
  VirtualLine& line() { return line_; }

  void OnHostClose(VirtualLine& line) override;
  void OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                   std::span<const uint64_t> arrival_us, uint32_t baud) override;

 private:
  DeviceModel model_;
  VirtualLine& line_;
  // Unplugged while the host still holds the dead handle.
  bool unplugged_ = false;
  uint64_t replug_us_ = 0;
};

// The flash a correct update leaves: the built-in image at 0..0x7CFFF, the
// identity page BuildIdentityPage(address) at 0x7D000, 0xFF elsewhere.
std::vector<uint8_t> FlashAfterUpdate(const BtAddressBytes& address);

}  // namespace brivelton::sim
