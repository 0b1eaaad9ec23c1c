// SPDX-License-Identifier: MIT
#pragma once
// How a simulated adapter starts, how long its work takes, and what goes
// wrong with it. Shared by the in-memory transport (tests, virtual time) and
// brivelton-sim (a pseudo-terminal, real time).
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "link/command_kind.h"

namespace brivelton::sim {

enum class Mode { kFirmware, kBootLoader };

// How the running firmware lets the host into its boot loader.
enum class BootEntry {
  kHandshake,  // answers the first BootHandshake
  kBursts,     // ignores handshakes until the bursts and BootCommandFE came
};

// Device times, in microseconds.
struct Timing {
  uint64_t erase_64k_us = 250'000;
  uint64_t erase_4k_us = 40'000;
  uint64_t page_program_us = 15'000;
  uint64_t checksum_us = 80'000;
  uint64_t page_read_us = 5'000;
  uint64_t restart_us = 100'000;
  uint64_t reply_latency_us = 200;  // firmware's turnaround for any command
};

// The USB-serial bridge between the adapter and the host. It passes bytes on
// a packet at a time; a packet it has not filled waits for its latency timer,
// which the host may ask to be short.
struct Bridge {
  const char* name = "none";
  size_t packet_bytes = 0;  // 0: no bridge, bytes pass as they arrive
  uint64_t hold_us = 0;
  uint64_t low_latency_hold_us = 0;
  // The host's request is honoured from the start (a pseudo-terminal cannot
  // carry it).
  bool low_latency = false;
};

// Steps of an update at which the adapter can be unplugged.
enum class UpdateStep {
  kNone,
  kLinkCheck,
  kHandshake,
  kSetBaud,
  kIdentityRead,
  kUnlock,
  kErase,       // at erase block `hangup_index`
  kPageWrite,   // at page `hangup_index`
  kIdentityWrite,
  kChecksum,
  kRestart,
};

struct Faults {
  uint32_t seed = 1;
  bool silent = false;                  // nothing answers at all
  std::map<CommandKind, int> ignore_kind;       // answers withheld this many times
  std::map<CommandKind, int> short_reply_kind;  // replies cut short this many times
  int short_reply_bytes = -1;           // length of a cut reply; -1: half
  int extra_bytes = 0;                  // junk bytes appended to every reply
  double drop_rate = 0.0;               // per byte, both directions
  double flip_rate = 0.0;               // per byte, both directions
  bool wrong_checksum = false;
  int wrong_identity_writes = 0;        // identity page stored wrong this many times
  bool short_checksum = false;          // checksum reply of 9 bytes
  bool version_without_marker = false;
  bool bad_param_ack = false;           // byte 4 of parameter replies not EE
  int64_t hangup_after_bytes = -1;      // unplugged once the host sent this many bytes
  UpdateStep hangup_step = UpdateStep::kNone;
  int hangup_index = 0;
  int hangup_count = 1;                 // how many times the plug is pulled (then it stays in)
  bool busy = false;                    // port held by another program
};

struct AdapterConfig {
  // Version reported by firmware that does not match the given image.
  uint32_t version = 0x1FF;
  BtAddressBytes bt_address = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
  bool blank_identity = false;          // identity page all 0xFF
  // Image whose presence in flash makes the firmware report image_version;
  // empty: the utility's built-in image and its version.
  std::vector<uint8_t> image;
  std::optional<uint32_t> image_version;
  // Whole flash (1 MiB) to start from; empty: an old image of `version` plus
  // the identity page.
  std::vector<uint8_t> flash;
  // Raw stored parameter values by op (1 to 10).
  std::map<int, uint32_t> params = {{1, 1}, {2, 0}, {3, 1}, {4, 7}, {5, 190},
                                    {6, 0}, {7, 1}, {8, 0}, {9, 0}, {10, 0}};
  BootEntry boot_entry = BootEntry::kHandshake;
  Timing timing;
  Bridge bridge;
  Faults faults;
};

// One frame as the adapter received it.
struct FrameRecord {
  std::optional<CommandKind> kind;  // none when not recognised
  std::vector<uint8_t> bytes;
  uint32_t baud = 0;  // the host's line speed when it was sent
  uint64_t t_us = 0;  // arrival of its last byte
};

}  // namespace brivelton::sim
