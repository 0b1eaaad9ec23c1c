// SPDX-License-Identifier: MIT
#include "sim/virtual_serial.h"

#include <algorithm>

#include "platform/timeouts.h"

namespace brivelton {

HeardBytes Garble(uint8_t value, uint32_t sent_baud, uint32_t read_baud, uint32_t& counter) {
  if (sent_baud == read_baud) return {{value}, 1};
  ++counter;
  const uint8_t mixed = static_cast<uint8_t>((value * 0x9Du) ^ 0xA5u ^ counter);
  if (sent_baud > read_baud) {
    // Several fast bytes fall into one slow frame.
    if (counter % 8 != 0) return {};
    return {{static_cast<uint8_t>(mixed | 0x80)}, 1};
  }
  return {{static_cast<uint8_t>(mixed & 0xF0), 0x00}, 2};
}

void VirtualLine::SendToHost(uint64_t t_us, uint8_t value, uint32_t baud) {
  to_host_.push_back({t_us, value, baud});
  to_host_free_us_ = std::max(to_host_free_us_, t_us);
}

class VirtualSerialDevice : public SerialDevice {
 public:
  explicit VirtualSerialDevice(VirtualLine& line) : line_(line) {}
  ~VirtualSerialDevice() override {
    line_.open_ = false;
    line_.low_latency_ = false;
    // Bytes that arrive while nobody holds the port are lost.
    line_.to_host_.clear();
    if (line_.peer_) line_.peer_->OnHostClose(line_);
  }

  bool GetState(LineSettings& settings) override {
    if (line_.hung_up()) return false;
    settings = state_;
    settings.baud = line_.host_baud_;
    return true;
  }
  bool SetState(const LineSettings& settings) override {
    if (line_.hung_up()) return false;
    state_ = settings;
    line_.host_baud_ = settings.baud;
    line_.baud_history_.push_back(settings.baud);
    return true;
  }
  bool SetTimeouts(const CommTimeouts& timeouts) override {
    if (line_.hung_up()) return false;
    timeouts_ = timeouts;
    return true;
  }
  bool SetEventMask(uint32_t) override { return !line_.hung_up(); }
  LowLatency RequestLowLatency() override {
    ++line_.low_latency_requests_;
    if (line_.bridge_timer_ms_) return {.granted = false, .bridge_timer_ms = line_.bridge_timer_ms_};
    line_.low_latency_ = true;
    return {.granted = true};
  }

  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    got = 0;
    VirtualClock& clock = line_.clock_;
    if (line_.hung_up()) return false;
    const uint64_t start = clock.NowUs();
    ReadWindow window(timeouts_, buffer.size(), start);
    uint64_t last = start;
    auto& queue = line_.to_host_;
    uint32_t& garble_count = line_.garble_count_;
    const uint32_t host_baud = line_.host_baud_;
    while (got < buffer.size() && !queue.empty()) {
      const uint64_t arrival = std::max(queue.front().t_us, start);
      if (arrival > window.end_us()) break;
      const VirtualLine::WireByte byte = queue.front();
      queue.pop_front();
      last = arrival;
      for (uint8_t value : Garble(byte.value, byte.baud, host_baud, garble_count)) {
        if (got < buffer.size()) buffer[got++] = value;
      }
      // A byte lost to a wrong speed starts no interval, but once one is in
      // each byte on the wire holds the read open.
      if (got > 0) window.Arrived(arrival);
    }
    // Nothing is queued while the host waits here, so a read with no end
    // returns with the last byte there was.
    const uint64_t end = got == buffer.size() ? last : window.end_us();
    clock.AdvanceTo(end == kNoDeadline ? last : end);
    return true;
  }

  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    written = 0;
    if (line_.hung_up()) return false;
    const uint32_t baud = line_.host_baud_;
    const uint64_t start =
        std::max(line_.clock_.NowUs(), line_.to_device_free_us_);
    // Kept across writes: a page write is four thousand stamps. Filled through
    // a plain pointer, as a member access per byte costs a sanitizer check.
    arrival_.resize(bytes.size());
    uint64_t* stamps = arrival_.data();
    WireTimes times(baud);
    for (size_t i = 0; i < bytes.size(); ++i) stamps[i] = start + times.Next();
    if (!bytes.empty()) line_.to_device_free_us_ = arrival_.back();
    written = bytes.size();
    if (line_.peer_) line_.peer_->OnHostBytes(line_, bytes, arrival_, baud);
    return true;
  }

  bool Purge() override {
    if (line_.hung_up()) return false;
    const uint64_t now = line_.clock_.NowUs();
    auto& queue = line_.to_host_;
    while (!queue.empty() && queue.front().t_us <= now) queue.pop_front();
    return true;
  }
  bool Flush() override { return !line_.hung_up(); }

 private:
  VirtualLine& line_;
  LineSettings state_;
  CommTimeouts timeouts_;
  std::vector<uint64_t> arrival_;
};

VirtualLine& VirtualSerialPorts::AddPort(const std::string& name,
                                         VirtualPeer* peer) {
  auto& slot = lines_[name];
  slot = std::make_unique<VirtualLine>(clock_, peer);
  return *slot;
}

VirtualLine* VirtualSerialPorts::Find(const std::string& name) {
  auto it = lines_.find(name);
  return it == lines_.end() ? nullptr : it->second.get();
}

std::unique_ptr<SerialDevice> VirtualSerialPorts::Open(const std::string& name,
                                                       OpenError* error) {
  OpenError result = OpenError::kNone;
  VirtualLine* line = Find(name);
  if (!line || !line->present_ || line->hung_up()) {
    result = OpenError::kNotFound;
  } else if (line->busy_ || line->open_) {
    result = OpenError::kBusy;
  }
  if (error) *error = result;
  if (result != OpenError::kNone) return nullptr;
  line->open_ = true;
  ++line->open_count_;
  // Nothing that arrived before the port was opened is seen.
  const uint64_t now = clock_.NowUs();
  auto& queue = line->to_host_;
  while (!queue.empty() && queue.front().t_us <= now) queue.pop_front();
  auto device = std::make_unique<VirtualSerialDevice>(*line);
  if (line->peer_) line->peer_->OnHostOpen(*line);
  return device;
}

int VirtualSerialPorts::open_ports() const {
  int count = 0;
  for (const auto& [name, line] : lines_) count += line->open_ ? 1 : 0;
  return count;
}

}  // namespace brivelton
