#include "platform/win32_port_list.h"

#include <windows.h>

#include <array>

#include "platform/port_names.h"
#include "platform/registry_ports.h"

namespace brivelton {

namespace {

class SerialCommKey : public RegistryPortKey {
 public:
  bool Open() override {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                         &key_) == ERROR_SUCCESS;
  }
  void Close() override { RegCloseKey(key_); }
  std::optional<uint32_t> ValueCount() override {
    DWORD count = 0;
    if (RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return std::nullopt;
    return count;
  }
  bool ReadValue(uint32_t index, uint32_t& type, std::span<uint8_t> data,
                 size_t& length) override {
    std::array<char, 255> name{};
    // Both lengths are in-out: offer the full buffers on every call.
    DWORD name_length = DWORD(name.size());
    DWORD data_length = DWORD(data.size());
    DWORD value_type = 0;
    if (RegEnumValueA(key_, index, name.data(), &name_length, nullptr, &value_type, data.data(),
                      &data_length) != ERROR_SUCCESS)
      return false;
    type = value_type;
    length = data_length;
    return true;
  }
  std::optional<std::string> ValueName(uint32_t index) override {
    std::array<char, 255> name{};
    DWORD name_length = DWORD(name.size());
    if (RegEnumValueA(key_, index, name.data(), &name_length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      return std::nullopt;
    return std::string(name.data(), name_length);
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

PortListing Win32RegistryPortList::List() {
  SerialCommKey key;
  return ListRegistryPorts(key);
}

std::vector<PortDetail> Win32RegistryPortList::Details(const std::string& port) const {
  SerialCommKey key;
  return RegistryPortDetails(key, port);
}

std::vector<std::string> Win32RegistryPortList::FallbackNames() const {
  return WindowsFallbackPortNames();
}

}  // namespace brivelton
