// SPDX-License-Identifier: MIT
#pragma once
// Pure helpers of the port-list backends: no system calls, so they build and
// are tested everywhere, whatever system the lister itself runs on.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brivelton {

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;

// The port name held by one registry value: the string up to its first NUL,
// never beyond the bytes the registry returned (its data need not be
// terminated). Empty or non-string data is no name.
std::optional<std::string> RegistryPortName(uint32_t type,
                                            std::span<const uint8_t> data);

// "COM0" .. "COM24".
std::vector<std::string> WindowsFallbackPortNames();
// /dev/ttyUSB0..9, /dev/ttyACM0..9, /dev/rfcomm0..4.
std::vector<std::string> LinuxFallbackPortNames();

// Kernel tty names that are never a serial line: the controlling tty, the
// virtual consoles, the console and the pty multiplexer.
bool IsVirtualTtyName(std::string_view name);

// Natural order: by the name without its trailing number, then by that number
// ("ttyACM2" < "ttyACM10" < "ttyS0"); equal keys fall back to the plain text.
bool NaturalPortLess(std::string_view a, std::string_view b);

}  // namespace brivelton
