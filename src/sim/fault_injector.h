// SPDX-License-Identifier: MIT
#pragma once
// What goes wrong with a simulated adapter, as its Faults describe: bytes lost
// or flipped on the line, answers withheld or spoiled, the plug pulled. The
// draws come from the seed alone, so a run repeats exactly.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/command_kind.h"
#include "sim/adapter_config.h"

namespace brivelton::sim {

class FaultInjector {
 public:
  explicit FaultInjector(const Faults& faults);

  // One byte crossing the line either way: none when it is lost.
  std::optional<uint8_t> Cross(const Faults& faults, uint8_t value);
  // Counts one byte from the host; whether the plug is pulled at it.
  bool PullAtHostByte(const Faults& faults);
  // Whether the plug is pulled at this frame. `in_boot_loader`: the restart
  // step counts only for a restart out of the boot loader.
  bool PullAtFrame(const Faults& faults, std::optional<CommandKind> kind,
                   std::span<const uint8_t> frame, bool in_boot_loader) const;
  void Pulled() { --pulls_left_; }
  void PoweredOn() { host_bytes_since_power_ = 0; }
  // Whether the answer to `kind` is withheld this time (using one up).
  static bool Withhold(Faults& faults, std::optional<CommandKind> kind);
  // The reply to `kind` as the faults leave it.
  void Spoil(Faults& faults, CommandKind kind, std::vector<uint8_t>& reply);

 private:
  double Random();

  uint64_t rng_state_;
  int pulls_left_;
  int64_t host_bytes_since_power_ = 0;
};

}  // namespace brivelton::sim
