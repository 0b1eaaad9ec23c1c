// SPDX-License-Identifier: MIT
#pragma once
// A firmware image for the adapter: its bytes, its version, and the checksum
// the boot loader must report after a good write. The one built into the
// utility is a value like any other, so the update can be handed another.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brivelton {

inline constexpr int kPageSize = 4096;  // one flash page
inline constexpr int kFirmwarePages = 125;
inline constexpr int kFirmwareSize = kFirmwarePages * kPageSize;

class FirmwareImage {
 public:
  // The checksum is computed from `bytes`, never taken on trust.
  FirmwareImage(std::vector<uint8_t> bytes, uint32_t version);

  std::span<const uint8_t> bytes() const { return bytes_; }
  uint32_t version() const { return version_; }
  const std::array<uint8_t, 4>& checksum() const { return checksum_; }
  // Page n (0 to 124), 4096 bytes; empty outside the image.
  std::span<const uint8_t> Page(int n) const;
  // Whether this is the build's placeholder (a build given no real image),
  // known by the mark it starts with.
  bool placeholder() const;

 private:
  std::vector<uint8_t> bytes_;
  uint32_t version_;
  std::array<uint8_t, 4> checksum_;
};

// What a placeholder is, wherever the built-in image is described: "firmware
// 2.04 (a placeholder for trying the utility, not firmware for a real adapter)".
inline constexpr const char* kPlaceholderNote =
    "a placeholder for trying the utility, not firmware for a real adapter";
// The mark a placeholder image begins with.
inline constexpr const char* kPlaceholderMark = "BRIVELTON PLACEHOLDER FIRMWARE";

// The image chosen when the utility was built.
const FirmwareImage& BuiltInImage();

// "2.04" for 0x204: the version as the window title shows it.
std::string VersionText(uint32_t version);

}  // namespace brivelton
