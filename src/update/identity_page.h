#pragma once
#include <array>
#include <cstdint>

namespace brivelton {

// The 4096-byte identity page: the Bluetooth address, the device name
// "Brivelton(XYZ)" derived from it, zeros, then 0xFF.
std::array<uint8_t, 4096> BuildIdentityPage(const std::array<uint8_t, 6>& address);

}  // namespace brivelton
