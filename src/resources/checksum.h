// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <span>

namespace brivelton {

// The usual CRC-32 (reflected 0xEDB88320, initial and final 0xFFFFFFFF).
uint32_t Crc32(std::span<const uint8_t> bytes);

// The boot loader's flash checksum: the CRC-32 register without the final
// inversion, least significant byte first.
std::array<uint8_t, 4> FlashChecksumOf(std::span<const uint8_t> bytes);

}  // namespace brivelton
