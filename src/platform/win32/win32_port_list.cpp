// SPDX-License-Identifier: MIT
#include "platform/win32/win32_port_list.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/port_names.h"
#include "platform/registry_ports.h"
#include "platform/usb_instance_id.h"

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

// The Ports (COM & LPT) device class.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce,
                              {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The COM name the device manager gave the device ("COM5").
std::string PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  const HKEY key =
      SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  std::array<char, 64> name{};
  DWORD type = 0;
  DWORD size = DWORD(name.size() - 1);
  const bool read = RegQueryValueExA(key, "PortName", nullptr, &type,
                                     reinterpret_cast<BYTE*>(name.data()), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!read || type != REG_SZ) return {};
  return std::string(name.data());
}

// The device itself or one of its parents: a serial driver's port sits on
// the USB device, on one of its interfaces, or on the driver's own bus.
UsbIdentity UsbAncestor(DEVINST device) {
  for (int up = 0; up < 4; ++up) {
    std::array<char, MAX_DEVICE_ID_LEN + 1> id{};
    if (CM_Get_Device_IDA(device, id.data(), ULONG(id.size() - 1), 0) != CR_SUCCESS) break;
    if (auto identity = UsbIdentityFromInstanceId(id.data())) return *identity;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) break;
    device = parent;
  }
  return {};
}

}  // namespace

PortListing Win32RegistryPortList::List() {
  SerialCommKey key;
  return ListRegistryPorts(key);
}

std::vector<PortDetail> Win32RegistryPortList::Details(const std::string& port) const {
  SerialCommKey key;
  std::vector<PortDetail> details = RegistryPortDetails(key, port);
  const UsbIdentity usb = UsbIdentityOf(port);
  if (!usb.vendor.empty()) details.push_back({"usb", usb.vendor + ":" + usb.product});
  if (!usb.serial.empty()) details.push_back({"serial", usb.serial});
  return details;
}

UsbIdentity Win32RegistryPortList::UsbIdentityOf(const std::string& port) const {
  // "\\.\COM12" names the same port as "COM12".
  const std::string name = port.starts_with("\\\\.\\") ? port.substr(4) : port;
  const HDEVINFO devices = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return {};
  UsbIdentity identity;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    if (!SameName(PortNameOf(devices, device), name)) continue;
    identity = UsbAncestor(device.DevInst);
    break;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return identity;
}

std::vector<std::string> Win32RegistryPortList::FallbackNames() const {
  return WindowsFallbackPortNames();
}

}  // namespace brivelton
