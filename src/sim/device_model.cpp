#include "sim/device_model.h"

#include <algorithm>
#include <cstring>

#include "link/frames.h"
#include "platform/virtual_serial.h"
#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton::sim {

namespace {

// The fault draws: a splitmix64 stream, its state stepping by the golden
// ratio and each step mixed.
constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Boot-loader status bytes.
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusLocked = 0x0C;
constexpr uint8_t kStatusBadArgument = 0x12;

constexpr int kLongBurst = 101;
constexpr int kShortBurst = 11;

// The adapter's own copy of what it listens for; deliberately not built from
// the host's frame builder, so a wrong byte there shows up as silence here.
constexpr uint8_t kHciHead[] = {0x01, 0xE0, 0xFC};
constexpr uint8_t kResetTail[] = {0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00};

uint32_t Le32(std::span<const uint8_t> bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool Equals(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> want) {
  return bytes.size() == want.size() && std::equal(want.begin(), want.end(), bytes.begin());
}

// Command Complete event of the vendor command `code`: 04 0E len 01 E0 FC code
// followed by `params`.
std::vector<uint8_t> Event(uint8_t code, std::initializer_list<uint8_t> params) {
  std::vector<uint8_t> reply;
  reply.reserve(7 + params.size());
  for (uint8_t b : {uint8_t{0x04}, uint8_t{0x0E}, static_cast<uint8_t>(4 + params.size()),
                    uint8_t{0x01}, uint8_t{0xE0}, uint8_t{0xFC}, code})
    reply.push_back(b);
  for (uint8_t b : params) reply.push_back(b);
  return reply;
}

enum class Parse { kNeedMore, kGarbage, kFrame };

// Whether `b` starts with a complete frame (its length in `length`), may
// still become one, or cannot. A `length` left with kNeedMore means the
// header is whole and checked: only the rest of the frame is missing.
Parse ParseFrame(std::span<const uint8_t> b, size_t& length) {
  if (b.empty()) return Parse::kNeedMore;
  switch (b[0]) {
    case 0x01: {
      for (size_t i = 1; i < 3; ++i) {
        if (b.size() <= i) return Parse::kNeedMore;
        if (b[i] != kHciHead[i]) return Parse::kGarbage;
      }
      if (b.size() < 4) return Parse::kNeedMore;
      if (b[3] == 0) return Parse::kGarbage;
      if (b[3] != 0xFF) {
        length = 4u + b[3];
      } else {
        if (b.size() < 5) return Parse::kNeedMore;
        if (b[4] != 0xF4) return Parse::kGarbage;
        if (b.size() < 7) return Parse::kNeedMore;
        const size_t n = b[5] | size_t{b[6]} << 8;
        if (n == 0 || n > 0x1005) return Parse::kGarbage;
        length = 7 + n;
      }
      return b.size() < length ? Parse::kNeedMore : Parse::kFrame;
    }
    case 0x2F:  // "/v"
      if (b.size() < 2) return Parse::kNeedMore;
      length = 2;
      return b[1] == 0x76 ? Parse::kFrame : Parse::kGarbage;
    case 0x58: {  // "XS"
      if (b.size() < 2) return Parse::kNeedMore;
      if (b[1] != 0x53) return Parse::kGarbage;
      if (b.size() < 3) return Parse::kNeedMore;
      if (b[2] != 0x03 && b[2] != 0x07) return Parse::kGarbage;
      if (b.size() < 5) return Parse::kNeedMore;
      if (b[4] != (b[2] == 0x03 ? 0x03 : 0x83)) return Parse::kGarbage;
      length = b[2] == 0x03 ? 7 : 10;
      return b.size() < length ? Parse::kNeedMore : Parse::kFrame;
    }
    default:
      return Parse::kGarbage;
  }
}

// The erase block a FlashErase frame names, as the update numbers them.
int EraseBlockIndex(std::span<const uint8_t> frame) {
  const uint8_t op = frame[8];
  const uint32_t address = Le32(frame.subspan(9, 4));
  if (op == 0xD8) return static_cast<int>(address >> 16);
  if (op == 0x20 && address >= 0xF0000) return 16 + static_cast<int>((address - 0xF0000) >> 12);
  return -1;
}

// Whether `kind` still has a count left in `counts`, using one up.
bool TakeOne(std::map<CommandKind, int>& counts, std::optional<CommandKind> kind) {
  if (!kind) return false;
  auto left = counts.find(*kind);
  if (left == counts.end() || left->second <= 0) return false;
  --left->second;
  return true;
}

}  // namespace

std::optional<CommandKind> KindOfFrame(std::span<const uint8_t> f) {
  if (f.size() == 2 && f[0] == 0x2F) return CommandKind::QueryVersion;
  if (f.size() >= 3 && f[0] == 0x58)
    return f[2] == 0x03 ? CommandKind::ParamRead : CommandKind::ParamWrite;
  if (f.size() < 5 || f[0] != 0x01) return std::nullopt;
  if (f[3] != 0xFF) {
    const auto p = f.subspan(4);
    if (Equals(p, {0x00})) return CommandKind::LinkCheck;
    if (Equals(p, {0xAA, 0x55})) return CommandKind::BootHandshake;
    if (Equals(p, {0xFE, 0x95, 0x27, 0x95, 0x27})) return CommandKind::BootCommandFE;
    if (Equals(p, {0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F})) return CommandKind::SetBaud1M;
    if (p.size() == 9 && std::equal(std::begin(kResetTail), std::end(kResetTail), p.begin()) &&
        p[8] == 0x00) {
      if (p[7] == 0x5A) return CommandKind::ResetStepA;
      if (p[7] == 0xA5) return CommandKind::ResetStepB;
    }
    if (p.size() == 9 && p[0] == 0x10) return CommandKind::FlashChecksum;
    return std::nullopt;
  }
  if (f.size() < 8) return std::nullopt;
  const auto p = f.subspan(7);
  if (Equals(p, {0x0C, 0x05})) return CommandKind::FlashReadStatus;
  if (p.size() == 3 && p[0] == 0x0D) return CommandKind::FlashWriteStatus;
  if (p.size() == 6 && p[0] == 0x0F) return CommandKind::FlashErase;
  if (p.size() == 5 && p[0] == 0x09) return CommandKind::FlashReadPage;
  if (p.size() == 5 + kPageSize && p[0] == 0x07)
    return Le32(p.subspan(1, 4)) == kIdentityPageAddress ? CommandKind::WriteIdentityPage
                                                          : CommandKind::FlashWritePage;
  return std::nullopt;
}

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

DeviceModel::DeviceModel(AdapterConfig config) : config_(std::move(config)) {
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

  // The seed is hashed: the stream only steps by the golden ratio, so seeds
  // taken as plain multiples of it gave neighbours the same draws one apart.
  rng_state_ = Mix(kGoldenGamma * (uint64_t{config_.faults.seed} + 1));
  pulls_left_ = config_.faults.hangup_count;
  baud_log_.push_back({0, kFirmwareBaud});
  // Powered from the start: no boot time, but the same choice of program.
  Boot(0);
  restarts_ = 0;
}

uint32_t DeviceModel::param(int op) const {
  return op >= 1 && op <= 10 ? params_[static_cast<size_t>(op)] : 0;
}

double DeviceModel::Random() {
  const uint64_t z = Mix(rng_state_ += kGoldenGamma);
  return static_cast<double>(z >> 11) * 0x1.0p-53;
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

void DeviceModel::ClearRx() {
  rx_.clear();
  rx_length_ = 0;
}

void DeviceModel::Boot(uint64_t ready_us) {
  ClearRx();
  asleep_until_us_ = ready_us;
  device_free_us_ = std::max(device_free_us_, ready_us);
  tx_free_us_ = std::max(tx_free_us_, ready_us);
  SetBaudFrom(ready_us, kFirmwareBaud);
  handshakes_before_fe_ = handshakes_after_fe_ = 0;
  fe_seen_ = false;
  lock_ = {};
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
  lock_ = {};
}

void DeviceModel::PowerOn(uint64_t t_us) {
  unplugged_ = false;
  host_bytes_since_power_ = 0;
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
  --pulls_left_;
  ClearRx();
  // What had not left the adapter by then never will.
  std::erase_if(out_, [t_us](const SentByte& b) { return b.t_us > t_us; });
}

void DeviceModel::Receive(std::span<const uint8_t> bytes,
                          std::span<const uint64_t> arrival_us, uint32_t host_baud) {
  const Faults& faults = config_.faults;
  for (size_t i = 0; i < bytes.size() && i < arrival_us.size(); ++i) {
    if (unplugged_) return;
    const uint64_t t = arrival_us[i];
    ++host_bytes_since_power_;
    if (faults.hangup_after_bytes >= 0 && pulls_left_ > 0 &&
        host_bytes_since_power_ >= faults.hangup_after_bytes) {
      Pull(t);
      return;
    }
    if (t < asleep_until_us_) continue;
    uint8_t value = bytes[i];
    if (faults.drop_rate > 0 && Random() < faults.drop_rate) continue;
    if (faults.flip_rate > 0 && Random() < faults.flip_rate)
      value ^= static_cast<uint8_t>(1u << static_cast<int>(Random() * 8));
    const uint32_t own_baud = BaudAt(t);
    if (own_baud == host_baud) {
      Feed(value, t, host_baud);
      continue;
    }
    for (uint8_t heard : Garble(value, host_baud, own_baud, garble_counter_))
      Feed(heard, t, host_baud);
  }
}

void DeviceModel::Feed(uint8_t value, uint64_t t_us, uint32_t host_baud) {
  if (!rx_.empty() && t_us > rx_last_us_ + kStaleFrameUs) {
    garbage_ += rx_.size();
    ClearRx();
  }
  rx_.push_back(value);
  rx_last_us_ = t_us;
  // The body of a frame whose header is in: nothing to look at before its end.
  if (rx_.size() < rx_length_) return;
  for (;;) {
    size_t length = 0;
    const Parse result = ParseFrame(rx_, length);
    if (result == Parse::kNeedMore) {
      rx_length_ = length;
      return;
    }
    rx_length_ = 0;
    if (result == Parse::kGarbage) {
      ++garbage_;
      rx_.erase(rx_.begin());
      continue;
    }
    std::vector<uint8_t> frame(rx_.begin(), rx_.begin() + static_cast<long>(length));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(length));
    HandleFrame(std::move(frame), t_us, host_baud);
    // A restart or an unplug loses whatever followed.
    if (unplugged_ || t_us < asleep_until_us_) {
      ClearRx();
      return;
    }
  }
}

bool DeviceModel::HangupStepHit(std::optional<CommandKind> kind,
                                std::span<const uint8_t> frame) const {
  const Faults& f = config_.faults;
  switch (f.hangup_step) {
    case UpdateStep::kNone: return false;
    case UpdateStep::kLinkCheck: return kind == CommandKind::LinkCheck;
    case UpdateStep::kHandshake: return kind == CommandKind::BootHandshake;
    case UpdateStep::kSetBaud: return kind == CommandKind::SetBaud1M;
    case UpdateStep::kIdentityRead: return kind == CommandKind::FlashReadPage;
    case UpdateStep::kUnlock:
      return kind == CommandKind::FlashReadStatus || kind == CommandKind::FlashWriteStatus;
    case UpdateStep::kErase:
      return kind == CommandKind::FlashErase && EraseBlockIndex(frame) == f.hangup_index;
    case UpdateStep::kPageWrite:
      return kind == CommandKind::FlashWritePage &&
             Le32(frame.subspan(8, 4)) == static_cast<uint32_t>(f.hangup_index) * kPageSize;
    case UpdateStep::kIdentityWrite: return kind == CommandKind::WriteIdentityPage;
    case UpdateStep::kChecksum: return kind == CommandKind::FlashChecksum;
    case UpdateStep::kRestart:
      return kind == CommandKind::ResetStepA && mode_ == Mode::kBootLoader;
  }
  return false;
}

void DeviceModel::HandleFrame(std::vector<uint8_t> bytes, uint64_t t_us, uint32_t host_baud) {
  const std::optional<CommandKind> kind = KindOfFrame(bytes);
  frames_.push_back({kind, std::move(bytes), host_baud, t_us});
  const std::span<const uint8_t> frame = frames_.back().bytes;
  if (pulls_left_ > 0 && HangupStepHit(kind, frame)) {
    Pull(t_us);
    return;
  }
  const Faults& faults = config_.faults;
  if (faults.silent) return;
  if (TakeOne(config_.faults.ignore_kind, kind)) return;
  const uint64_t start = std::max(t_us, device_free_us_);
  std::vector<uint8_t> reply;
  uint64_t work_us = 0;
  const bool answered = Execute(kind, frame, reply, work_us);
  last_kind_ = kind;
  if (!answered) return;
  const uint64_t ready = start + config_.timing.reply_latency_us + work_us;
  device_free_us_ = ready;
  ApplyReplyFaults(kind, reply);
  Send(reply, ready);

  if (kind == CommandKind::SetBaud1M) {
    SetBaudFrom(tx_free_us_, kBootLoaderBaud);
  } else if (kind == CommandKind::ResetStepB && restart_armed_) {
    Boot(tx_free_us_ + config_.timing.restart_us);
  }
}

bool DeviceModel::Execute(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
                          std::vector<uint8_t>& reply, uint64_t& work_us) {
  const bool was_armed = last_kind_ == CommandKind::ResetStepA;
  restart_armed_ = false;
  switch (kind.value_or(CommandKind{})) {
    case CommandKind::ResetStepA:
      reply = Event(0x01, {0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00});
      return true;
    case CommandKind::ResetStepB:
      // The adapter restarts while it answers; what gets out is cut short.
      restart_armed_ = was_armed;
      reply = {0x04, 0x0E, 0x02, 0x01, 0x00};
      return true;
    case CommandKind::LinkCheck:
      TrackBootEntry(kind);
      reply = Event(0x01, {0x00});
      return true;
    default:
      break;
  }
  if (mode_ == Mode::kFirmware) {
    TrackBootEntry(kind);
    return ExecuteFirmware(kind, frame, reply);
  }
  return ExecuteBootLoader(kind, frame, reply, work_us);
}

void DeviceModel::TrackBootEntry(std::optional<CommandKind> kind) {
  if (kind == CommandKind::BootHandshake) return;
  if (kind == CommandKind::BootCommandFE && mode_ == Mode::kFirmware &&
      config_.boot_entry == BootEntry::kBursts) {
    fe_seen_ = handshakes_before_fe_ >= kLongBurst;
    handshakes_after_fe_ = 0;
    if (!fe_seen_) handshakes_before_fe_ = 0;
    return;
  }
  handshakes_before_fe_ = handshakes_after_fe_ = 0;
  fe_seen_ = false;
}

bool DeviceModel::ExecuteFirmware(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
                                  std::vector<uint8_t>& reply) {
  if (!kind) return false;
  switch (*kind) {
    case CommandKind::BootHandshake:
      if (config_.boot_entry == BootEntry::kBursts) {
        if (!fe_seen_) {
          ++handshakes_before_fe_;
          return false;
        }
        if (handshakes_after_fe_ < kShortBurst) {
          ++handshakes_after_fe_;
          return false;
        }
      }
      reply = Event(0xAA, {0x00});
      EnterBootLoader();
      return true;
    case CommandKind::QueryVersion: {
      char text[40];
      std::snprintf(text, sizeof text, "\r\n%s = %03X\r\nBT 2.1 EDR\r\n>",
                    config_.faults.version_without_marker ? "FW Version" : "BN Version",
                    static_cast<unsigned>(version_ & 0xFFF));
      reply.assign(text, text + 33);
      return true;
    }
    case CommandKind::ParamRead:
    case CommandKind::ParamWrite: {
      const uint8_t sequence = frame[3];
      const int op = frame[5];
      if (kind == CommandKind::ParamWrite && op >= 1 && op <= 10) {
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

void DeviceModel::TrackUnlock(std::optional<CommandKind> kind) {
  if (lock_.unlocked) return;
  if (kind == CommandKind::FlashReadStatus) {
    lock_.stage = lock_.stage == 2 ? 3 : 1;
  } else if (kind == CommandKind::FlashWriteStatus && lock_.stage == 1) {
    lock_.stage = 2;
  } else {
    lock_.stage = 0;
  }
  lock_.unlocked = lock_.stage == 3;
}

bool DeviceModel::ExecuteBootLoader(std::optional<CommandKind> kind,
                                    std::span<const uint8_t> frame,
                                    std::vector<uint8_t>& reply, uint64_t& work_us) {
  const Timing& timing = config_.timing;
  TrackUnlock(kind);
  if (!kind) return false;
  switch (*kind) {
    case CommandKind::BootHandshake:
      reply = Event(0xAA, {0x00});
      return true;
    case CommandKind::SetBaud1M:
      reply = Event(0x0F, {0x40, 0x42, 0x0F, 0x00, 0x00});
      return true;
    case CommandKind::FlashReadStatus:
      reply = Event(0x0C, {kStatusOk, 0x05, lock_.status_register, 0x00, 0x00, 0x00});
      return true;
    case CommandKind::FlashWriteStatus:
      lock_.status_register = frame[9];
      reply = Event(0x0D, {kStatusOk, 0x01, lock_.status_register, 0x00, 0x00, 0x00});
      return true;
    case CommandKind::FlashErase: {
      const uint8_t op = frame[8];
      const uint32_t address = Le32(frame.subspan(9, 4));
      uint8_t status = kStatusOk;
      const uint32_t size = op == 0xD8 ? 0x10000 : op == 0x20 ? 0x1000 : 0;
      if (!lock_.unlocked) {
        status = kStatusLocked;
      } else if (size == 0 || address >= kFlashSize) {
        status = kStatusBadArgument;
      } else {
        const uint32_t base = address & ~(size - 1);
        std::fill(flash_.begin() + base, flash_.begin() + base + size, 0xFF);
        work_us = size == 0x10000 ? timing.erase_64k_us : timing.erase_4k_us;
      }
      reply = Event(0x0F, {status, op, frame[9], frame[10], frame[11], frame[12], 0x00,
                           0x00, 0x00});
      return true;
    }
    case CommandKind::FlashWritePage:
    case CommandKind::WriteIdentityPage: {
      const uint32_t address = Le32(frame.subspan(8, 4));
      uint8_t status = kStatusOk;
      if (!lock_.unlocked) {
        status = kStatusLocked;
      } else if (address > kFlashSize - kPageSize) {
        status = kStatusBadArgument;
      } else {
        // NOR flash: programming can only clear bits.
        uint8_t* cells = flash_.data() + address;
        const uint8_t* data = frame.data() + 12;
        for (size_t i = 0; i < static_cast<size_t>(kPageSize); ++i) cells[i] &= data[i];
        work_us = timing.page_program_us;
      }
      reply = Event(0x07, {status, frame[8], frame[9], frame[10], frame[11], 0x00, 0x00,
                           0x00});
      return true;
    }
    case CommandKind::FlashChecksum: {
      const uint32_t first = Le32(frame.subspan(5, 4));
      const uint32_t last = std::min<uint32_t>(Le32(frame.subspan(9, 4)), kFlashSize - 1);
      std::array<uint8_t, 4> sum{};
      if (first <= last)
        sum = FlashChecksumOf(std::span(flash_).subspan(first, last - first + 1));
      reply = Event(0x10, {sum[0], sum[1], sum[2], sum[3]});
      work_us = timing.checksum_us;
      return true;
    }
    case CommandKind::FlashReadPage: {
      const uint32_t address = Le32(frame.subspan(8, 4));
      reply = {0x04, 0x0E, 0xFF, 0xF4, 0x08, 0x10, 0x01, 0xE0, 0xFC, 0x09, kStatusOk};
      for (int i = 0; i < 4; ++i) reply.push_back(frame[8 + static_cast<size_t>(i)]);
      for (uint32_t i = 0; i < kPageSize - 1; ++i) {
        const uint64_t at = uint64_t{address} + i;
        reply.push_back(at < kFlashSize ? flash_[at] : 0xFF);
      }
      work_us = timing.page_read_us;
      return true;
    }
    default:
      // The boot loader does not run the firmware's commands.
      return false;
  }
}

void DeviceModel::ApplyReplyFaults(std::optional<CommandKind> kind, std::vector<uint8_t>& reply) {
  Faults& faults = config_.faults;
  if (kind == CommandKind::FlashChecksum && faults.wrong_checksum) reply[7] ^= 0x01;
  if (kind == CommandKind::FlashChecksum && faults.short_checksum) reply.resize(9);
  if ((kind == CommandKind::ParamRead || kind == CommandKind::ParamWrite) && faults.bad_param_ack)
    reply[4] = 0xE0;
  if (TakeOne(faults.short_reply_kind, kind)) {
    const size_t n = faults.short_reply_bytes >= 0
                         ? static_cast<size_t>(faults.short_reply_bytes)
                         : std::max<size_t>(1, reply.size() / 2);
    if (n < reply.size()) reply.resize(n);
  }
  for (int i = 0; i < faults.extra_bytes; ++i)
    reply.push_back(static_cast<uint8_t>(Random() * 256));
}

void DeviceModel::Send(const std::vector<uint8_t>& reply, uint64_t ready_us) {
  const uint64_t start = std::max(ready_us, tx_free_us_);
  const uint32_t baud = BaudAt(start);
  const Faults& faults = config_.faults;
  if (out_.empty()) out_.reserve(reply.size());
  WireTimes times(baud);
  for (size_t i = 0; i < reply.size(); ++i) {
    const uint64_t t = start + times.Next();
    uint8_t value = reply[i];
    if (faults.drop_rate > 0 && Random() < faults.drop_rate) continue;
    if (faults.flip_rate > 0 && Random() < faults.flip_rate)
      value ^= static_cast<uint8_t>(1u << static_cast<int>(Random() * 8));
    out_.push_back({t, value, baud});
  }
  tx_free_us_ = start + WireTimeUs(reply.size(), baud);
}

}  // namespace brivelton::sim
