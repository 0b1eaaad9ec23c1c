// SPDX-License-Identifier: MIT
#include "link/bt_address.h"

#include <cstdio>

#include "resources/hex_text.h"

namespace brivelton {

std::string FormatBtAddress(const BtAddressBytes& address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

std::optional<BtAddressBytes> ParseBtAddress(std::string_view text) {
  // Either all five colons or none: "001B:DC..." is more likely a typo.
  const bool colons = text.size() == 17;
  if (!colons && text.size() != 12) return std::nullopt;
  BtAddressBytes address{};
  size_t at = 0;
  for (size_t k = 0; k < address.size(); ++k) {
    if (colons && k > 0 && text[at++] != ':') return std::nullopt;
    const std::optional<int> high = HexDigitValue(text[at]);
    const std::optional<int> low = HexDigitValue(text[at + 1]);
    if (!high || !low) return std::nullopt;
    address[k] = static_cast<uint8_t>(*high << 4 | *low);
    at += 2;
  }
  return address;
}

std::string MeaninglessAddressReason(const BtAddressBytes& address) {
  if (address == BtAddressBytes{}) return "all zeros is no adapter's address";
  if (address == BtAddressBytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
    return "all FF is no adapter's address";
  if (address == kDefaultBtAddress)
    return FormatBtAddress(kDefaultBtAddress) +
           " is the start-up address every blank adapter gets";
  return {};
}

}  // namespace brivelton
