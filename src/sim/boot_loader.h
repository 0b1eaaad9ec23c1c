// SPDX-License-Identifier: MIT
#pragma once
// The adapter's way into its boot loader, and the boot loader itself: the
// flash lock a reset leaves it with and the commands it runs on the flash.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/command_kind.h"
#include "sim/adapter_config.h"

namespace brivelton::sim {

inline constexpr size_t kFlashSize = 1u << 20;

// Firmware that ignores a lone handshake lets the host in after a long burst
// of them, the FE command and a short burst.
class BurstEntry {
 public:
  // Every command the firmware hears; one out of turn starts the count over.
  void Track(std::optional<CommandKind> kind, bool by_bursts);
  // A handshake to the running firmware: whether it now answers (and enters
  // its boot loader).
  bool Handshake();
  void Reset() { *this = {}; }

 private:
  int handshakes_before_fe_ = 0;
  int handshakes_after_fe_ = 0;
  bool fe_seen_ = false;
};

class BootLoader {
 public:
  // As a reset leaves it: the flash locked.
  void Reset() { lock_ = {}; }
  bool unlocked() const { return lock_.unlocked; }
  // What the boot loader does with a frame on `flash`; false when it stays
  // silent. `work_us` is how long the flash kept it busy.
  bool Execute(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
               std::span<uint8_t> flash, const Timing& timing, std::vector<uint8_t>& reply,
               uint64_t& work_us);

 private:
  void TrackUnlock(std::optional<CommandKind> kind);

  // The flash's write protection: the status register read, written back,
  // read again unlocks the flash.
  struct FlashLock {
    int stage = 0;
    bool unlocked = false;
    uint8_t status_register = 0x1C;
  } lock_;
};

}  // namespace brivelton::sim
