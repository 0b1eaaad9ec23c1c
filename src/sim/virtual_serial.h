// SPDX-License-Identifier: MIT
#pragma once
// An in-memory serial port on a virtual clock. The far end (a simulated
// adapter, or a scripted peer in tests) is told of every byte the host writes
// with the time it reaches it, and queues its answers with their arrival
// times; reads then pass virtual time exactly as the real time-outs would.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace brivelton {

// Wire time of `count` bytes at `baud`, 10 bits a byte, in microseconds.
inline uint64_t WireTimeUs(uint64_t count, uint32_t baud) {
  return baud ? count * 10'000'000ull / baud : 0;
}

// WireTimeUs(1, baud), WireTimeUs(2, baud), ... one after the other, with no
// division per byte: a page write stamps four thousand of them.
class WireTimes {
 public:
  explicit WireTimes(uint32_t baud)
      : baud_(baud),
        step_(baud ? 10'000'000ull / baud : 0),
        carry_(baud ? 10'000'000ull % baud : 0) {}
  uint64_t Next() {
    us_ += step_;
    rest_ += carry_;
    if (baud_ && rest_ >= baud_) {
      ++us_;
      rest_ -= baud_;
    }
    return us_;
  }

 private:
  uint64_t baud_;
  uint64_t step_;
  uint64_t carry_;
  uint64_t us_ = 0;
  uint64_t rest_ = 0;
};

class VirtualLine;

class VirtualPeer {
 public:
  virtual ~VirtualPeer() = default;
  virtual void OnHostOpen(VirtualLine& /*line*/) {}
  virtual void OnHostClose(VirtualLine& /*line*/) {}
  // The host wrote `bytes` at `baud`; byte i has fully reached the far end at
  // arrival_us[i].
  virtual void OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                           std::span<const uint64_t> arrival_us,
                           uint32_t baud) = 0;
};

class VirtualLine {
 public:
  VirtualLine(VirtualClock& clock, VirtualPeer* peer)
      : clock_(clock), peer_(peer) {}

  // Far end: queue one byte that reaches the host at `t_us`, sent at `baud`.
  // Bytes must be queued in time order.
  void SendToHost(uint64_t t_us, uint8_t value, uint32_t baud);
  // When the far end's transmitter is free again (for pacing its replies).
  uint64_t host_bound_free_us() const { return to_host_free_us_; }

  uint32_t host_baud() const { return host_baud_; }
  bool host_open() const { return open_; }
  VirtualClock& clock() { return clock_; }
  void set_peer(VirtualPeer* peer) { peer_ = peer; }

  // Faults of the port itself.
  void set_busy(bool busy) { busy_ = busy; }        // held by another program
  void set_present(bool present) { present_ = present; }
  void set_hung_up(bool hung_up) { hung_up_ = hung_up; }  // unplugged
  // Unplugged until `t_us` on the clock, then back by itself.
  void set_hung_up_until(uint64_t t_us) { hung_up_until_us_ = t_us; }
  bool hung_up() const { return hung_up_ || clock_.NowUs() < hung_up_until_us_; }

  // A bridge whose latency timer the host cannot lower (as Windows' drivers
  // keep it in the registry): a request for low latency reports it instead.
  void set_bridge_timer_ms(uint32_t ms) { bridge_timer_ms_ = ms; }
  // Low latency asked for and granted while the host holds the port.
  bool low_latency() const { return low_latency_; }

  // What the host side has done, for tests.
  int open_count() const { return open_count_; }
  int low_latency_requests() const { return low_latency_requests_; }
  std::vector<uint32_t>& baud_history() { return baud_history_; }

 private:
  friend class VirtualSerialDevice;
  friend class VirtualSerialPorts;
  struct WireByte {
    uint64_t t_us;
    uint8_t value;
    uint32_t baud;
  };

  VirtualClock& clock_;
  VirtualPeer* peer_;
  std::deque<WireByte> to_host_;
  uint64_t to_host_free_us_ = 0;
  uint64_t to_device_free_us_ = 0;
  uint32_t host_baud_ = 9600;
  uint32_t garble_count_ = 0;
  bool open_ = false;
  bool busy_ = false;
  bool present_ = true;
  bool hung_up_ = false;
  uint64_t hung_up_until_us_ = 0;
  bool low_latency_ = false;
  uint32_t bridge_timer_ms_ = 0;
  int open_count_ = 0;
  int low_latency_requests_ = 0;
  std::vector<uint32_t> baud_history_;
};

// The set of virtual ports, by name. A name never added does not exist.
class VirtualSerialPorts : public SerialPorts {
 public:
  explicit VirtualSerialPorts(VirtualClock& clock) : clock_(clock) {}
  // A port with nothing attached is silent; add one with a null peer.
  VirtualLine& AddPort(const std::string& name, VirtualPeer* peer);
  VirtualLine* Find(const std::string& name);
  std::unique_ptr<SerialDevice> Open(const std::string& name,
                                     OpenError* error) override;
  // Ports currently open: a closed handle must not stay counted.
  int open_ports() const;

 private:
  VirtualClock& clock_;
  std::map<std::string, std::unique_ptr<VirtualLine>> lines_;
};

// What one byte reads as: none, one or two bytes. A value, not a vector: it
// is made for every byte that crosses a line.
struct HeardBytes {
  std::array<uint8_t, 2> bytes{};
  uint8_t count = 0;
  const uint8_t* begin() const { return bytes.data(); }
  const uint8_t* end() const { return bytes.data() + count; }
};

// Bytes sent at one speed and read at another come out as garbage, as on a
// real wire: a faster sender's bytes are mostly lost, a slower sender's each
// read as two. Deterministic, so runs repeat exactly.
HeardBytes Garble(uint8_t value, uint32_t sent_baud, uint32_t read_baud, uint32_t& counter);

}  // namespace brivelton
