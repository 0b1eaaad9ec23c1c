#include "platform/win32_port_list.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "platform/port_names.h"

namespace brivelton {

PortListing Win32RegistryPortList::List() {
  PortListing listing;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                    0x20019, &key) != ERROR_SUCCESS) {
    listing.status = PortListing::Status::kCantOpen;
    return listing;
  }
  DWORD count = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    RegCloseKey(key);
    listing.status = PortListing::Status::kCantQuery;
    return listing;
  }
  for (DWORD index = 0; index < count; ++index) {
    std::array<char, 255> name{};
    std::array<uint8_t, 256> data{};
    // Both lengths are in-out: offer the full buffers on every call.
    DWORD name_length = DWORD(name.size());
    DWORD data_length = DWORD(data.size());
    DWORD type = 0;
    if (RegEnumValueA(key, index, name.data(), &name_length, nullptr, &type,
                      data.data(), &data_length) != ERROR_SUCCESS) {
      listing.entries.emplace_back();
      continue;
    }
    const size_t returned = std::min<size_t>(data_length, data.size());
    listing.entries.push_back(
        RegistryPortName(type, std::span<const uint8_t>(data.data(), returned)));
  }
  RegCloseKey(key);
  return listing;
}

std::vector<std::string> Win32RegistryPortList::FallbackNames() const {
  return WindowsFallbackPortNames();
}

}  // namespace brivelton
