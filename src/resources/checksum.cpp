// SPDX-License-Identifier: MIT
#include "resources/checksum.h"

namespace brivelton {

namespace {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr auto kTable = MakeTable();

// Runs over the whole image at every flash verify: plain pointers, so that
// unoptimised and sanitizer builds make no call per byte.
uint32_t CrcRegister(std::span<const uint8_t> bytes) {
  const uint32_t* table = kTable.data();
  const uint8_t* p = bytes.data();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < bytes.size(); ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c;
}
}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes) {
  return CrcRegister(bytes) ^ 0xFFFFFFFFu;
}

std::array<uint8_t, 4> FlashChecksumOf(std::span<const uint8_t> bytes) {
  const uint32_t r = CrcRegister(bytes);
  return {static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8),
          static_cast<uint8_t>(r >> 16), static_cast<uint8_t>(r >> 24)};
}

}  // namespace brivelton
