// SPDX-License-Identifier: MIT
#pragma once
// The host bench with one adapter-less port "COM3", a scripted far end behind
// it, already recorded as the found port. Link tests use its link alone.
#include "support/host_bench.h"

namespace brivelton::testing {

struct LinkFixture : HostBench {
  explicit LinkFixture(ScriptedPeer::Responder responder = nullptr)
      : peer(Script(std::move(responder))), line(virtual_ports.Find("COM3")) {}
  ScriptedPeer& peer;
  VirtualLine* line;
};

inline std::vector<uint8_t> Filled(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

}  // namespace brivelton::testing
