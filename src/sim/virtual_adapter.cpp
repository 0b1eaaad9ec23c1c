// SPDX-License-Identifier: MIT
#include "sim/virtual_adapter.h"

#include <algorithm>

#include "link/link_state.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton::sim {

VirtualAdapter::VirtualAdapter(VirtualSerialPorts& ports, const std::string& name,
                               AdapterConfig config)
    : model_(std::move(config)), line_(ports.AddPort(name, this)) {
  line_.set_busy(model_.config().faults.busy);
}

void VirtualAdapter::OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                                 std::span<const uint64_t> arrival_us, uint32_t baud) {
  model_.set_low_latency(line.low_latency());
  model_.Receive(bytes, arrival_us, baud);
  for (const SentByte& b : model_.TakeOutput()) line.SendToHost(b.t_us, b.value, b.baud);
  if (auto pulled = model_.TakeHangup()) {
    // A handle open across an unplug stays dead; only a new open sees the
    // adapter again, and not before it is back.
    unplugged_ = true;
    replug_us_ = *pulled + kReplugDelayUs;
    line.set_hung_up(true);
  }
}

void VirtualAdapter::OnHostClose(VirtualLine& line) {
  if (!unplugged_) return;
  unplugged_ = false;
  const uint64_t back = std::max(replug_us_, line.clock().NowUs());
  line.set_hung_up(false);
  line.set_hung_up_until(back);
  model_.PowerOn(back);
}

std::vector<uint8_t> FlashAfterUpdate(const BtAddressBytes& address) {
  std::vector<uint8_t> flash(kFlashSize, 0xFF);
  const auto image = BuiltInImage().bytes();
  std::copy(image.begin(), image.end(), flash.begin());
  const auto page = BuildIdentityPage(address);
  std::copy(page.begin(), page.end(), flash.begin() + kIdentityPageAddress);
  return flash;
}

}  // namespace brivelton::sim
