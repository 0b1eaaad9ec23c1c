// SPDX-License-Identifier: MIT
#pragma once
// A far end for the virtual port that answers frames from a script: tests of
// the link and exchange rules use it where the full simulated adapter would
// hide the rule under test.
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "sim/virtual_serial.h"

namespace brivelton::testing {

class ScriptedPeer : public VirtualPeer {
 public:
  // Called with each complete write; returns the bytes to answer with.
  using Responder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& frame)>;

  explicit ScriptedPeer(Responder responder = nullptr,
                        uint64_t reply_delay_us = 100)
      : responder_(std::move(responder)), reply_delay_us_(reply_delay_us) {}

  void OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                   std::span<const uint64_t> arrival_us, uint32_t baud) override;

  // Every write the host made, in order.
  std::vector<std::vector<uint8_t>> frames;
  // Queued answers used before the responder, one per write.
  std::deque<std::vector<uint8_t>> replies;

 private:
  Responder responder_;
  uint64_t reply_delay_us_;
};

}  // namespace brivelton::testing
