// SPDX-License-Identifier: MIT
#include "platform/usb_instance_id.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace brivelton {

namespace {

bool IsHexId(std::string_view text) {
  return text.size() == 4 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

// Lower case, as Linux's sysfs gives the same numbers.
std::string LowerHex(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::optional<UsbIdentity> UsbIdentityFromInstanceId(std::string_view id) {
  // USB\VID_0403&PID_6001\A50285BI: the bus, the hardware, the instance.
  constexpr std::string_view kBus = "USB\\";
  if (!StartsWithNoCase(id, kBus)) return std::nullopt;
  id.remove_prefix(kBus.size());
  const size_t slash = id.find('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view hardware = id.substr(0, slash);
  const std::string_view instance = id.substr(slash + 1);
  // Exactly VID_xxxx&PID_xxxx: an &MI_nn more is one interface of a
  // composite device, whose parent is the device.
  if (hardware.size() != 17 || !StartsWithNoCase(hardware, "VID_") ||
      !StartsWithNoCase(hardware.substr(8), "&PID_") || !IsHexId(hardware.substr(4, 4)) ||
      !IsHexId(hardware.substr(13, 4)))
    return std::nullopt;
  if (instance.empty() || instance.find('\\') != std::string_view::npos) return std::nullopt;
  UsbIdentity identity{LowerHex(hardware.substr(4, 4)), LowerHex(hardware.substr(13, 4)), ""};
  if (instance.find('&') == std::string_view::npos) identity.serial = std::string(instance);
  return identity;
}

}  // namespace brivelton
