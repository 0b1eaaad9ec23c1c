// SPDX-License-Identifier: MIT
#pragma once
// One simulated adapter: its running firmware, its boot loader, its flash and
// its parameters, driven by host bytes stamped with the time they reach it.
// Everything it does follows from those bytes, their times and the seed, so a
// run repeats exactly, whichever transport carries the bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/adapter_config.h"
#include "sim/adapter_frames.h"
#include "sim/boot_loader.h"
#include "sim/fault_injector.h"

namespace brivelton::sim {

inline constexpr uint32_t kImageEnd = 0x7D000;  // first byte after the image
inline constexpr uint32_t kFirmwareBaud = 115200;
inline constexpr uint32_t kBootLoaderBaud = 1000000;
// How long an unplugged adapter stays away.
inline constexpr uint64_t kReplugDelayUs = 500'000;

// One byte on its way to the host: it has fully arrived at `t_us`, sent at
// the adapter's line speed `baud`.
struct SentByte {
  uint64_t t_us;
  uint8_t value;
  uint32_t baud;
};

// The old firmware the adapter ships with: 512,000 bytes unlike the built-in
// image, marked with `version`.
std::vector<uint8_t> OldFirmwareImage(uint32_t version);

class DeviceModel {
 public:
  explicit DeviceModel(AdapterConfig config = {});

  Mode mode() const { return mode_; }
  // The adapter's own line speed once the replies sent so far are out.
  uint32_t line_baud() const { return baud_log_.back().baud; }
  // What "/v" would report now.
  uint32_t version() const { return version_; }
  std::span<const uint8_t> flash() const { return flash_; }
  uint32_t param(int op) const;
  const std::vector<FrameRecord>& frames() const { return frames_; }
  // Restarts by the reset pair and power cycles after an unplug.
  int restarts() const { return restarts_; }
  bool unlocked() const { return boot_loader_.unlocked(); }
  // Bytes the parser threw away while looking for a frame.
  uint64_t garbage_bytes() const { return parser_.garbage(); }
  const std::vector<uint8_t>& stray_bytes() const { return parser_.stray(); }
  AdapterConfig& config() { return config_; }
  const AdapterConfig& config() const { return config_; }

  // Host bytes sent at `host_baud`; byte i fully reached the adapter at
  // arrival_us[i]. Times never go backwards.
  void Receive(std::span<const uint8_t> bytes,
               std::span<const uint64_t> arrival_us, uint32_t host_baud);
  // Reply bytes produced since the last call, in time order.
  std::vector<SentByte> TakeOutput();
  // When the plug was pulled, once per pull; until PowerOn the adapter hears
  // nothing.
  std::optional<uint64_t> TakeHangup();
  bool unplugged() const { return unplugged_; }
  // Plugged back in at `t_us`: it boots as after a restart.
  void PowerOn(uint64_t t_us);
  // Whether the host asked the bridge for low latency (on a virtual port it
  // can say so).
  void set_low_latency(bool on) { low_latency_ = on; }
  // Drops the frame record (a long-running server keeps it short).
  void ForgetFrames() { frames_.clear(); }

 private:
  struct BaudChange {
    uint64_t t_us;
    uint32_t baud;
  };

  uint32_t BaudAt(uint64_t t_us) const;
  void SetBaudFrom(uint64_t t_us, uint32_t baud);
  void Feed(uint8_t value, uint64_t t_us, uint32_t host_baud);
  void HandleFrame(std::vector<uint8_t> bytes, uint64_t t_us, uint32_t host_baud);
  void Pull(uint64_t t_us);
  // What the adapter does with a frame; false when it stays silent.
  bool Execute(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
               std::vector<uint8_t>& reply, uint64_t& work_us);
  bool ExecuteFirmware(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
                       std::vector<uint8_t>& reply);
  void TrackBootEntry(std::optional<CommandKind> kind);
  void EnterBootLoader();
  void Boot(uint64_t ready_us);
  bool PageZeroGood() const;
  void Send(const std::vector<uint8_t>& reply, uint64_t ready_us);

  AdapterConfig config_;
  std::vector<uint8_t> image_;
  uint32_t image_version_;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> initial_page0_;
  std::array<uint32_t, 11> params_{};
  std::vector<FrameRecord> frames_;

  Mode mode_ = Mode::kFirmware;
  uint32_t version_ = 0;
  std::vector<BaudChange> baud_log_;
  int restarts_ = 0;

  FrameParser parser_;
  // What Garble carries from one byte heard at the wrong speed to the next.
  uint32_t garble_counter_ = 0;

  // Timing: nothing is heard before asleep_until_; the device works on one
  // command at a time and its transmitter sends one reply at a time.
  uint64_t asleep_until_us_ = 0;
  uint64_t device_free_us_ = 0;
  uint64_t tx_free_us_ = 0;
  // When the bridge has passed on the last reply byte; it keeps their order.
  uint64_t bridge_free_us_ = 0;
  bool low_latency_ = false;
  std::vector<SentByte> out_;

  BurstEntry burst_entry_;
  BootLoader boot_loader_;
  // The reset pair restarts only as a pair, A right before B.
  std::optional<CommandKind> last_kind_;
  bool restart_armed_ = false;

  FaultInjector faults_;
  bool unplugged_ = false;
  std::optional<uint64_t> hangup_;
};

}  // namespace brivelton::sim
