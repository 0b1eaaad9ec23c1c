// SPDX-License-Identifier: MIT
#pragma once
// A Bluetooth address, as the adapter's identity page holds it, and how the
// user writes one.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivelton {

using BtAddressBytes = std::array<uint8_t, 6>;

// What a blank adapter's firmware starts with: no adapter's own address.
inline constexpr BtAddressBytes kDefaultBtAddress = {0x00, 0x01, 0x00, 0x03, 0x04, 0x06};

// "00:1B:DC:0F:21:7E": the bytes in the order the identity page holds them.
std::string FormatBtAddress(const BtAddressBytes& address);
// Twelve hexadecimal digits, in the page's order, with or without a colon
// between the bytes; nothing else.
std::optional<BtAddressBytes> ParseBtAddress(std::string_view text);
// All zeros, all FF or the start-up address: none names an adapter. The
// reason, for the user, or empty when the address may be written.
std::string MeaninglessAddressReason(const BtAddressBytes& address);

}  // namespace brivelton
