// SPDX-License-Identifier: MIT
#pragma once
// The serial-device seam: what the link needs of one open serial port, in the
// Windows model (line record, time-outs, event mask, purge, flush), so that the
// protocol code reads the same on every backend.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace brivelton {

// The Windows numbering, so the Win32 backend passes it through.
enum class Parity : uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBits : uint8_t { kOne = 0, kOneAndAHalf = 1, kTwo = 2 };

// The fields of the line-control record the utility touches; every other
// setting stays as the port had it.
struct LineSettings {
  uint32_t baud = 0;
  uint8_t data_bits = 8;
  Parity parity = Parity::kNone;
  StopBits stop_bits = StopBits::kOne;
};

// The Windows time-out model: a read returns when the requested bytes are in,
// when `read_interval_ms` passes between two bytes, or when
// `read_total_multiplier_ms * n + read_total_constant_ms` has passed in all
// (ReadWindow in platform/timeouts.h has the details).
struct CommTimeouts {
  uint32_t read_interval_ms = 0;
  uint32_t read_total_multiplier_ms = 0;
  uint32_t read_total_constant_ms = 0;
  uint32_t write_total_multiplier_ms = 0;
  uint32_t write_total_constant_ms = 0;
};

inline constexpr uint32_t kEventRxChar = 0x0001;

// What asking a port for low latency found. A USB-serial bridge holds a reply
// shorter than its packet until its latency timer fires (16 ms on many).
struct LowLatency {
  bool granted = false;
  // The bridge's timer when the system reports it and the request could not
  // lower it; 0 when unknown or lowered.
  uint32_t bridge_timer_ms = 0;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  virtual bool GetState(LineSettings& settings) = 0;
  virtual bool SetState(const LineSettings& settings) = 0;
  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool SetEventMask(uint32_t mask) = 0;
  // Blocks at most as the time-outs allow; `got` is what arrived. False only on
  // an error of the port itself (a hang-up, an unplugged device).
  virtual bool Read(std::span<uint8_t> buffer, size_t& got) = 0;
  virtual bool Write(std::span<const uint8_t> bytes, size_t& written) = 0;
  // Drops both queues and aborts pending I/O.
  virtual bool Purge() = 0;
  virtual bool Flush() = 0;
  // Asks the driver to pass short replies on at once; the port keeps its old
  // setting when closed. Only a request: a port without the setting works on.
  virtual LowLatency RequestLowLatency() { return {}; }
};

enum class OpenError { kNone, kNotFound, kBusy, kPermission, kOther };

// Opens serial ports by name: exclusively, for reading and writing.
class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  virtual std::unique_ptr<SerialDevice> Open(const std::string& name,
                                             OpenError* error) = 0;
  // The group whose members may open `name` when this process is not one of
  // them ("dialout"); empty when none would help or the system has none.
  virtual std::string GroupToJoin(const std::string& /*name*/) { return {}; }
};

}  // namespace brivelton
