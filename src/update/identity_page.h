// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>

#include "link/bt_address.h"
#include "resources/firmware_image.h"

namespace brivelton {

// The identity page: the Bluetooth address, the device name "Brivelton(XYZ)"
// derived from it, zeros, then 0xFF.
std::array<uint8_t, kPageSize> BuildIdentityPage(const BtAddressBytes& address);

}  // namespace brivelton
