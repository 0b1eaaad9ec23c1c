// SPDX-License-Identifier: MIT
#include "support/scripted_peer.h"

#include <algorithm>

namespace brivelton::testing {

void ScriptedPeer::OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                               std::span<const uint64_t> arrival_us, uint32_t baud) {
  std::vector<uint8_t> frame(bytes.begin(), bytes.end());
  frames.push_back(frame);
  std::vector<uint8_t> answer;
  if (!replies.empty()) {
    answer = std::move(replies.front());
    replies.pop_front();
  } else if (responder_) {
    answer = responder_(frame);
  }
  uint64_t t = std::max(arrival_us.empty() ? line.clock().NowUs() : arrival_us.back(),
                        line.host_bound_free_us()) +
               reply_delay_us_;
  for (uint8_t b : answer) {
    t += WireTimeUs(1, baud);
    line.SendToHost(t, b, baud);
  }
}

}  // namespace brivelton::testing
