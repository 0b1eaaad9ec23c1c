#pragma once
#include <array>
#include <cstdint>

#include "resources/firmware_image.h"

namespace brivelton {

// The identity page: the Bluetooth address, the device name "Brivelton(XYZ)"
// derived from it, zeros, then 0xFF.
std::array<uint8_t, kPageSize> BuildIdentityPage(const std::array<uint8_t, 6>& address);

}  // namespace brivelton
