// SPDX-License-Identifier: MIT
#include "sim/fault_injector.h"

#include <algorithm>

#include "link/frames.h"
#include "sim/adapter_frames.h"

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

// Whether `kind` still has a count left in `counts`, using one up.
bool TakeOne(std::map<CommandKind, int>& counts, std::optional<CommandKind> kind) {
  if (!kind) return false;
  auto left = counts.find(*kind);
  if (left == counts.end() || left->second <= 0) return false;
  --left->second;
  return true;
}

}  // namespace

// The seed is hashed: the stream only steps by the golden ratio, so seeds
// taken as plain multiples of it gave neighbours the same draws one apart.
FaultInjector::FaultInjector(const Faults& faults)
    : rng_state_(Mix(kGoldenGamma * (uint64_t{faults.seed} + 1))),
      pulls_left_(faults.hangup_count) {}

double FaultInjector::Random() {
  const uint64_t z = Mix(rng_state_ += kGoldenGamma);
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

std::optional<uint8_t> FaultInjector::Cross(const Faults& faults, uint8_t value) {
  if (faults.drop_rate > 0 && Random() < faults.drop_rate) return std::nullopt;
  if (faults.flip_rate > 0 && Random() < faults.flip_rate)
    value ^= static_cast<uint8_t>(1u << static_cast<int>(Random() * 8));
  return value;
}

bool FaultInjector::PullAtHostByte(const Faults& faults) {
  ++host_bytes_since_power_;
  return faults.hangup_after_bytes >= 0 && pulls_left_ > 0 &&
         host_bytes_since_power_ >= faults.hangup_after_bytes;
}

bool FaultInjector::PullAtFrame(const Faults& f, std::optional<CommandKind> kind,
                                std::span<const uint8_t> frame, bool in_boot_loader) const {
  using enum CommandKind;
  if (pulls_left_ <= 0) return false;
  switch (f.hangup_step) {
    case UpdateStep::kNone: return false;
    case UpdateStep::kLinkCheck: return kind == LinkCheck;
    case UpdateStep::kHandshake: return kind == BootHandshake;
    case UpdateStep::kSetBaud: return kind == SetBaud1M;
    case UpdateStep::kIdentityRead: return kind == FlashReadPage;
    case UpdateStep::kUnlock: return kind == FlashReadStatus || kind == FlashWriteStatus;
    case UpdateStep::kErase: return kind == FlashErase && EraseBlockIndex(frame) == f.hangup_index;
    case UpdateStep::kPageWrite:
      return kind == FlashWritePage &&
             Le32(frame.subspan(8, 4)) == static_cast<uint32_t>(f.hangup_index) * kPageSize;
    case UpdateStep::kIdentityWrite: return kind == WriteIdentityPage;
    case UpdateStep::kChecksum: return kind == FlashChecksum;
    case UpdateStep::kRestart: return kind == ResetStepA && in_boot_loader;
  }
  return false;
}

bool FaultInjector::Withhold(Faults& faults, std::optional<CommandKind> kind) {
  return TakeOne(faults.ignore_kind, kind);
}

void FaultInjector::Spoil(Faults& faults, CommandKind kind, std::vector<uint8_t>& reply) {
  using enum CommandKind;
  if (kind == FlashChecksum && faults.wrong_checksum) reply[7] ^= 0x01;
  if (kind == FlashChecksum && faults.short_checksum) reply.resize(9);
  if ((kind == ParamRead || kind == ParamWrite) && faults.bad_param_ack) reply[4] = 0xE0;
  if (TakeOne(faults.short_reply_kind, kind)) {
    const size_t n = faults.short_reply_bytes >= 0
                         ? static_cast<size_t>(faults.short_reply_bytes)
                         : std::max<size_t>(1, reply.size() / 2);
    if (n < reply.size()) reply.resize(n);
  }
  for (int i = 0; i < faults.extra_bytes; ++i)
    reply.push_back(static_cast<uint8_t>(Random() * 256));
}

}  // namespace brivelton::sim
