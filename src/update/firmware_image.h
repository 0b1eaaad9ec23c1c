#pragma once
// The firmware image built into the utility, with its version and the
// checksum the boot loader must report after a good write.
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace brivelton {

inline constexpr int kFirmwareSize = 512000;
inline constexpr int kFirmwarePages = 125;

std::span<const uint8_t> FirmwareImage();
// Page n (0 to 124) of the image, 4096 bytes.
std::span<const uint8_t> FirmwarePage(int n);

extern const uint32_t AvailableVersion;
// "2.04" for 0x204: the version as the window title shows it.
std::string VersionText(uint32_t version);
std::string AvailableVersionText();

// Computed from the image on first use, never typed in.
const std::array<uint8_t, 4>& ExpectedChecksum();

}  // namespace brivelton
