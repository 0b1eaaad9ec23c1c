// SPDX-License-Identifier: MIT
#include "sim/device_model.h"

#include <algorithm>
#include <cstring>

#include "link/frames.h"
#include "resources/firmware_image.h"
#include "sim/virtual_serial.h"
#include "update/identity_page.h"

namespace brivelton::sim {

std::vector<uint8_t> OldFirmwareImage(uint32_t version) {
  std::vector<uint8_t> image(kFirmwareSize);
  char header[48];
  const int n = std::snprintf(header, sizeof header, "BRIVELTON FIRMWARE %03X\n",
                              static_cast<unsigned>(version & 0xFFF));
  std::memcpy(image.data(), header, static_cast<size_t>(n));
  uint32_t x = 0x6C078965u ^ version;
  for (size_t i = static_cast<size_t>(n); i < image.size(); ++i) {
    x = x * 1664525u + 1013904223u;
    image[i] = static_cast<uint8_t>(x >> 24);
  }
  return image;
}

DeviceModel::DeviceModel(AdapterConfig config)
    : config_(std::move(config)), faults_(config_.faults) {
  if (config_.image.empty()) {
    const auto builtin = BuiltInImage().bytes();
    image_.assign(builtin.begin(), builtin.end());
  } else {
    image_ = config_.image;
  }
  image_.resize(std::min<size_t>(image_.size(), kImageEnd));
  image_version_ = config_.image_version.value_or(BuiltInImage().version());

  if (!config_.flash.empty()) {
    flash_ = config_.flash;
    flash_.resize(kFlashSize, 0xFF);
  } else {
    flash_.assign(kFlashSize, 0xFF);
    const auto old = OldFirmwareImage(config_.version);
    std::copy(old.begin(), old.end(), flash_.begin());
    if (!config_.blank_identity) {
      const auto page = BuildIdentityPage(config_.bt_address);
      std::copy(page.begin(), page.end(), flash_.begin() + kIdentityPageAddress);
    }
  }
  initial_page0_.assign(flash_.begin(), flash_.begin() + kPageSize);
  for (const auto& [op, value] : config_.params)
    if (op >= 1 && op <= 10) params_[static_cast<size_t>(op)] = value;

  baud_log_.push_back({0, kFirmwareBaud});
  // Powered from the start: no boot time, but the same choice of program.
  Boot(0);
  restarts_ = 0;
}

uint32_t DeviceModel::param(int op) const {
  return op >= 1 && op <= 10 ? params_[static_cast<size_t>(op)] : 0;
}

uint32_t DeviceModel::BaudAt(uint64_t t_us) const {
  for (size_t i = baud_log_.size(); i-- > 0;)
    if (baud_log_[i].t_us <= t_us) return baud_log_[i].baud;
  return baud_log_.front().baud;
}

void DeviceModel::SetBaudFrom(uint64_t t_us, uint32_t baud) {
  baud_log_.push_back({t_us, baud});
  // Only the recent past is ever asked for.
  if (baud_log_.size() > 16) baud_log_.erase(baud_log_.begin(), baud_log_.begin() + 8);
}

bool DeviceModel::PageZeroGood() const {
  const auto page0 = std::span(flash_).first(kPageSize);
  if (std::all_of(page0.begin(), page0.end(), [](uint8_t b) { return b == 0xFF; }))
    return false;
  const bool is_image = image_.size() >= static_cast<size_t>(kPageSize) &&
                        std::equal(page0.begin(), page0.end(), image_.begin());
  return is_image || std::equal(page0.begin(), page0.end(), initial_page0_.begin());
}

void DeviceModel::Boot(uint64_t ready_us) {
  parser_.Clear();
  asleep_until_us_ = ready_us;
  device_free_us_ = std::max(device_free_us_, ready_us);
  tx_free_us_ = std::max(tx_free_us_, ready_us);
  SetBaudFrom(ready_us, kFirmwareBaud);
  burst_entry_.Reset();
  boot_loader_.Reset();
  last_kind_.reset();
  ++restarts_;
  if (PageZeroGood()) {
    mode_ = Mode::kFirmware;
    const bool is_image =
        image_.size() == kImageEnd && std::equal(image_.begin(), image_.end(), flash_.begin());
    version_ = (is_image ? image_version_ : config_.version) & 0xFFF;
  } else {
    mode_ = Mode::kBootLoader;
  }
}

void DeviceModel::EnterBootLoader() {
  mode_ = Mode::kBootLoader;
  boot_loader_.Reset();
}

void DeviceModel::PowerOn(uint64_t t_us) {
  unplugged_ = false;
  faults_.PoweredOn();
  Boot(t_us + config_.timing.restart_us);
}

std::vector<SentByte> DeviceModel::TakeOutput() {
  std::vector<SentByte> out;
  out.swap(out_);
  return out;
}

std::optional<uint64_t> DeviceModel::TakeHangup() {
  auto h = hangup_;
  hangup_.reset();
  return h;
}

void DeviceModel::Pull(uint64_t t_us) {
  unplugged_ = true;
  hangup_ = t_us;
  faults_.Pulled();
  parser_.Clear();
  // What had not left the adapter by then never will.
  std::erase_if(out_, [t_us](const SentByte& b) { return b.t_us > t_us; });
}

void DeviceModel::Receive(std::span<const uint8_t> bytes,
                          std::span<const uint64_t> arrival_us, uint32_t host_baud) {
  for (size_t i = 0; i < bytes.size() && i < arrival_us.size(); ++i) {
    if (unplugged_) return;
    const uint64_t t = arrival_us[i];
    if (faults_.PullAtHostByte(config_.faults)) {
      Pull(t);
      return;
    }
    if (t < asleep_until_us_) continue;
    const std::optional<uint8_t> value = faults_.Cross(config_.faults, bytes[i]);
    if (!value) continue;
    const uint32_t own_baud = BaudAt(t);
    if (own_baud == host_baud) {
      Feed(*value, t, host_baud);
      continue;
    }
    for (uint8_t heard : Garble(*value, host_baud, own_baud, garble_counter_))
      Feed(heard, t, host_baud);
  }
}

void DeviceModel::Feed(uint8_t value, uint64_t t_us, uint32_t host_baud) {
  parser_.Push(value, t_us);
  while (auto frame = parser_.TakeFrame()) {
    HandleFrame(std::move(*frame), t_us, host_baud);
    // A restart or an unplug loses whatever followed.
    if (unplugged_ || t_us < asleep_until_us_) {
      parser_.Clear();
      return;
    }
  }
}

void DeviceModel::HandleFrame(std::vector<uint8_t> bytes, uint64_t t_us, uint32_t host_baud) {
  const std::optional<CommandKind> kind = KindOfFrame(bytes);
  frames_.push_back({kind, std::move(bytes), host_baud, t_us});
  const std::span<const uint8_t> frame = frames_.back().bytes;
  if (faults_.PullAtFrame(config_.faults, kind, frame, mode_ == Mode::kBootLoader)) {
    Pull(t_us);
    return;
  }
  if (config_.faults.silent || FaultInjector::Withhold(config_.faults, kind)) return;
  const uint64_t start = std::max(t_us, device_free_us_);
  std::vector<uint8_t> reply;
  uint64_t work_us = 0;
  const bool answered = Execute(kind, frame, reply, work_us);
  last_kind_ = kind;
  // Only a frame the adapter knows is answered.
  if (!answered) return;
  const uint64_t ready = start + config_.timing.reply_latency_us + work_us;
  device_free_us_ = ready;
  faults_.Spoil(config_.faults, *kind, reply);
  Send(reply, ready);

  if (kind == CommandKind::SetBaud1M) {
    SetBaudFrom(tx_free_us_, kBootLoaderBaud);
  } else if (kind == CommandKind::ResetStepB && restart_armed_) {
    Boot(tx_free_us_ + config_.timing.restart_us);
  }
}

bool DeviceModel::Execute(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
                          std::vector<uint8_t>& reply, uint64_t& work_us) {
  using enum CommandKind;
  const bool was_armed = last_kind_ == ResetStepA;
  restart_armed_ = false;
  if (kind == ResetStepA) {
    reply = Event(0x01, {0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00});
    return true;
  }
  if (kind == ResetStepB) {
    // The adapter restarts while it answers; what gets out is cut short.
    restart_armed_ = was_armed;
    reply = {0x04, 0x0E, 0x02, 0x01, 0x00};
    return true;
  }
  if (kind == LinkCheck) {
    TrackBootEntry(kind);
    reply = Event(0x01, {0x00});
    return true;
  }
  if (mode_ == Mode::kFirmware) {
    TrackBootEntry(kind);
    return ExecuteFirmware(kind, frame, reply);
  }
  const bool unlocked = boot_loader_.unlocked();
  const bool answered = boot_loader_.Execute(kind, frame, flash_, config_.timing, reply, work_us);
  // Acknowledged, but one bit of the address stored wrong.
  if (answered && kind == WriteIdentityPage && unlocked &&
      config_.faults.wrong_identity_writes > 0) {
    --config_.faults.wrong_identity_writes;
    flash_[kIdentityPageAddress] ^= 0x01;
  }
  return answered;
}

void DeviceModel::TrackBootEntry(std::optional<CommandKind> kind) {
  burst_entry_.Track(kind,
                     mode_ == Mode::kFirmware && config_.boot_entry == BootEntry::kBursts);
}

bool DeviceModel::ExecuteFirmware(std::optional<CommandKind> kind,
                                  std::span<const uint8_t> frame,
                                  std::vector<uint8_t>& reply) {
  using enum CommandKind;
  if (!kind) return false;
  switch (*kind) {
    case BootHandshake:
      if (config_.boot_entry == BootEntry::kBursts && !burst_entry_.Handshake()) return false;
      reply = Event(0xAA, {0x00});
      EnterBootLoader();
      return true;
    case QueryVersion: {
      char text[40];
      std::snprintf(text, sizeof text, "\r\n%s = %03X\r\nBT 2.1 EDR\r\n>",
                    config_.faults.version_without_marker ? "FW Version" : "BN Version",
                    static_cast<unsigned>(version_ & 0xFFF));
      reply.assign(text, text + 33);
      return true;
    }
    case ParamRead:
    case ParamWrite: {
      const uint8_t sequence = frame[3];
      const int op = frame[5];
      if (kind == ParamWrite && op >= 1 && op <= 10) {
        const uint8_t v = frame[6];
        uint32_t& slot = params_[static_cast<size_t>(op)];
        if (op == 4) {
          static constexpr uint32_t kHookSpeeds[] = {3, 5, 7, 10};
          if (v < 4) slot = kHookSpeeds[v];
        } else if (op == 5) {
          static constexpr uint32_t kOffHookPowers[] = {150, 190, 225, 95, 80};
          if (v < 5) slot = kOffHookPowers[v];
        } else {
          slot = v;
        }
      }
      reply = {0x58, 0x53, 0x07, sequence, 0xEE, static_cast<uint8_t>(op)};
      PutLe32(reply, param(op));
      return true;
    }
    default:
      // The firmware has no use for boot-loader commands.
      return false;
  }
}

void DeviceModel::Send(const std::vector<uint8_t>& reply, uint64_t ready_us) {
  const uint64_t start = std::max(ready_us, tx_free_us_);
  const uint32_t baud = BaudAt(start);
  if (out_.empty()) out_.reserve(reply.size());
  WireTimes times(baud);
  const Bridge& bridge = config_.bridge;
  const uint64_t hold =
      low_latency_ || bridge.low_latency ? bridge.low_latency_hold_us : bridge.hold_us;
  for (size_t i = 0; i < reply.size(); ++i) {
    uint64_t t = start + times.Next();
    if (bridge.packet_bytes) {
      // A byte goes on with the last of its packet; a packet left short waits.
      const size_t first = i / bridge.packet_bytes * bridge.packet_bytes;
      const size_t end = std::min(first + bridge.packet_bytes, reply.size());
      t = start + WireTimeUs(end, baud) + (end - first < bridge.packet_bytes ? hold : 0);
      t = bridge_free_us_ = std::max(t, bridge_free_us_);
    }
    if (const std::optional<uint8_t> value = faults_.Cross(config_.faults, reply[i]))
      out_.push_back({t, *value, baud});
  }
  tx_free_us_ = start + WireTimeUs(reply.size(), baud);
}

}  // namespace brivelton::sim
