// SPDX-License-Identifier: MIT
#include "platform/win32/win32_serial.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace brivelton {
namespace {

// "COM10" must be opened as "\\.\COM10"; the short names accept it too.
std::string DevicePath(const std::string& name) {
  if (name.starts_with("\\\\")) return name;
  return "\\\\.\\" + name;
}

OpenError OpenErrorFor(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenError::kBusy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenError::kNotFound;
    default:
      return OpenError::kOther;
  }
}

DCB EmptyDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  return dcb;
}

// ReadFile and WriteFile take 32-bit lengths.
DWORD Clamp(size_t size) {
  return DWORD(std::min<size_t>(size, std::numeric_limits<DWORD>::max()));
}

// The FTDI driver keeps each port's latency timer among its device's
// parameters, Enum\FTDIBUS\<device>\<instance>\Device Parameters: values
// PortName ("COM3") and LatencyTimer (milliseconds). None for another driver.
std::optional<uint32_t> FtdiLatencyTimerMs(std::string port) {
  if (port.starts_with("\\\\.\\")) port.erase(0, 4);
  HKEY bus = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0,
                    KEY_READ, &bus) != ERROR_SUCCESS)
    return std::nullopt;
  std::optional<uint32_t> timer;
  std::array<char, 256> device{};
  for (DWORD i = 0; !timer; ++i) {
    DWORD device_length = DWORD(device.size());
    if (RegEnumKeyExA(bus, i, device.data(), &device_length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    HKEY instances = nullptr;
    if (RegOpenKeyExA(bus, device.data(), 0, KEY_READ, &instances) != ERROR_SUCCESS) continue;
    std::array<char, 256> instance{};
    for (DWORD j = 0; !timer; ++j) {
      DWORD instance_length = DWORD(instance.size());
      if (RegEnumKeyExA(instances, j, instance.data(), &instance_length, nullptr, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS)
        break;
      const std::string parameters = std::string(instance.data()) + "\\Device Parameters";
      std::array<char, 64> name{};
      DWORD name_size = DWORD(name.size());
      if (RegGetValueA(instances, parameters.c_str(), "PortName", RRF_RT_REG_SZ, nullptr,
                       name.data(), &name_size) != ERROR_SUCCESS ||
          _stricmp(name.data(), port.c_str()) != 0)
        continue;
      DWORD ms = 0;
      DWORD ms_size = sizeof ms;
      if (RegGetValueA(instances, parameters.c_str(), "LatencyTimer", RRF_RT_REG_DWORD, nullptr,
                       &ms, &ms_size) == ERROR_SUCCESS)
        timer = ms;
    }
    RegCloseKey(instances);
  }
  RegCloseKey(bus);
  return timer;
}

class Win32SerialDevice : public SerialDevice {
 public:
  Win32SerialDevice(HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  ~Win32SerialDevice() override { CloseHandle(handle_); }

  bool GetState(LineSettings& settings) override {
    DCB dcb = EmptyDcb();
    if (!GetCommState(handle_, &dcb)) return false;
    settings.baud = dcb.BaudRate;
    settings.data_bits = dcb.ByteSize;
    settings.parity = static_cast<Parity>(dcb.Parity);
    settings.stop_bits = static_cast<StopBits>(dcb.StopBits);
    return true;
  }

  bool SetState(const LineSettings& settings) override {
    // Every field the caller does not name stays as the port has it.
    DCB dcb = EmptyDcb();
    if (!GetCommState(handle_, &dcb)) dcb = EmptyDcb();
    dcb.BaudRate = settings.baud;
    dcb.ByteSize = settings.data_bits;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stop_bits);
    return SetCommState(handle_, &dcb) != 0;
  }

  bool SetTimeouts(const CommTimeouts& t) override {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = t.read_interval_ms;
    timeouts.ReadTotalTimeoutMultiplier = t.read_total_multiplier_ms;
    timeouts.ReadTotalTimeoutConstant = t.read_total_constant_ms;
    timeouts.WriteTotalTimeoutMultiplier = t.write_total_multiplier_ms;
    timeouts.WriteTotalTimeoutConstant = t.write_total_constant_ms;
    return SetCommTimeouts(handle_, &timeouts) != 0;
  }

  bool SetEventMask(uint32_t mask) override {
    static_assert(kEventRxChar == EV_RXCHAR);
    return SetCommMask(handle_, mask) != 0;
  }

  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(handle_, buffer.data(), Clamp(buffer.size()), &n, nullptr);
    got = n;
    return ok != 0;
  }

  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    DWORD n = 0;
    const BOOL ok = WriteFile(handle_, bytes.data(), Clamp(bytes.size()), &n, nullptr);
    written = n;
    return ok != 0;
  }

  bool Purge() override {
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR |
                                  PURGE_RXCLEAR) != 0;
  }

  bool Flush() override { return FlushFileBuffers(handle_) != 0; }

  // Windows offers no request: the timer is the driver's setting, which the
  // user changes. Read once per open.
  LowLatency RequestLowLatency() override {
    if (!bridge_timer_ms_) bridge_timer_ms_ = FtdiLatencyTimerMs(name_).value_or(0);
    return {.granted = false, .bridge_timer_ms = *bridge_timer_ms_};
  }

 private:
  HANDLE handle_;
  std::string name_;
  std::optional<uint32_t> bridge_timer_ms_;
};

}  // namespace

std::unique_ptr<SerialDevice> Win32SerialPorts::Open(const std::string& name,
                                                     OpenError* error) {
  const HANDLE handle =
      CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = OpenErrorFor(GetLastError());
    return nullptr;
  }
  if (error) *error = OpenError::kNone;
  return std::make_unique<Win32SerialDevice>(handle, name);
}

}  // namespace brivelton
