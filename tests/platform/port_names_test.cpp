// SPDX-License-Identifier: MIT
#include "platform/port_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace brivelton {
namespace {

std::vector<uint8_t> BytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(RegistryPortName, TakesTheStringWithinTheReturnedBytes) {
  using namespace std::string_view_literals;
  struct Case {
    uint32_t type;
    std::string_view data;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {kRegSz, "COM3\0"sv, "COM3"},
      {kRegSz, "COM3"sv, "COM3"},  // no terminating NUL
      {kRegSz, "COM3\0COM9\0"sv, "COM3"},
      {kRegExpandSz, "COM12\0"sv, "COM12"},
      {kRegSz, "\0COM4\0"sv, std::nullopt},
      {kRegSz, ""sv, std::nullopt},
      {0, "COM5\0"sv, std::nullopt},  // REG_NONE
      {3, "COM5\0"sv, std::nullopt},  // REG_BINARY
      {4, "\x03\0\0\0"sv, std::nullopt},  // REG_DWORD
      {7, "COM6\0\0"sv, std::nullopt},  // REG_MULTI_SZ
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> data = BytesOf(c.data);
    EXPECT_EQ(RegistryPortName(c.type, data), c.name)
        << "type " << c.type << " data \"" << std::string(c.data) << '"';
  }
}

TEST(RegistryPortName, FullBufferWithoutNulStaysInsideIt) {
  // Exactly the 256 bytes offered, none a NUL: under the sanitizers any read
  // beyond them is caught.
  std::array<uint8_t, 256> data;
  data.fill('A');
  data.back() = 'Z';
  const auto name = RegistryPortName(kRegSz, data);
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->size(), 256u);
  EXPECT_EQ(name->back(), 'Z');
  EXPECT_EQ(RegistryPortName(kRegSz, std::span(data).first(4)), "AAAA");
}

TEST(FallbackPortNames, WindowsAndLinux) {
  const auto windows = WindowsFallbackPortNames();
  ASSERT_EQ(windows.size(), 25u);
  EXPECT_EQ(windows.front(), "COM0");
  EXPECT_EQ(windows[10], "COM10");
  EXPECT_EQ(windows.back(), "COM24");

  const std::vector<std::string> linux_names = LinuxFallbackPortNames();
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) expected.push_back("/dev/ttyUSB" + std::to_string(i));
  for (int i = 0; i < 10; ++i) expected.push_back("/dev/ttyACM" + std::to_string(i));
  for (int i = 0; i < 5; ++i) expected.push_back("/dev/rfcomm" + std::to_string(i));
  EXPECT_EQ(linux_names, expected);
}

TEST(VirtualTtyName, ConsolesAndPtyDevicesOnly) {
  for (const char* name : {"tty", "tty0", "tty1", "tty63", "console", "ptmx"})
    EXPECT_TRUE(IsVirtualTtyName(name)) << name;
  for (const char* name : {"ttyS0", "ttyUSB0", "ttyACM3", "rfcomm0", "ttyAMA0",
                           "ttymxc1", "ttyS", "ttyprintkX"})
    EXPECT_FALSE(IsVirtualTtyName(name)) << name;
}

TEST(NaturalPortOrder, ByStemThenNumber) {
  const std::vector<std::string> expected = {
      "COM1",    "COM2",    "COM9",     "COM10",    "COM24",  "rfcomm",
      "rfcomm0", "rfcomm4", "ttyACM2",  "ttyACM10", "ttyS0",  "ttyS01",
      "ttyS1",   "ttyS31",  "ttyUSB0",  "ttyUSB9",  "ttyUSB10",
      "ttyUSB99999999999999999999", "ttyUSB100000000000000000000"};
  std::vector<std::string> shuffled = expected;
  std::reverse(shuffled.begin(), shuffled.end());
  std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
  std::sort(shuffled.begin(), shuffled.end(), [](const std::string& a, const std::string& b) {
    return NaturalPortLess(a, b);
  });
  EXPECT_EQ(shuffled, expected);
  // A strict order: nothing is less than itself.
  for (const auto& name : expected) EXPECT_FALSE(NaturalPortLess(name, name)) << name;
}

}  // namespace
}  // namespace brivelton
