// SPDX-License-Identifier: MIT
// The built-in image, its checksum and the identity page.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton {
namespace {

std::span<const uint8_t> Text(const char* text) {
  return {reinterpret_cast<const uint8_t*>(text), std::strlen(text)};
}

// Bit by bit, without the table the product uses.
uint32_t SlowCrcRegister(std::span<const uint8_t> bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
  }
  return c;
}

TEST(Checksum, FollowsTheCrc32CheckValue) {
  EXPECT_EQ(Crc32(Text("123456789")), 0xCBF43926u);
  // The flash checksum is its complement, least significant byte first.
  const std::array<uint8_t, 4> expected = {0xD9, 0xC6, 0x0B, 0x34};
  EXPECT_EQ(FlashChecksumOf(Text("123456789")), expected);
  EXPECT_EQ(Crc32({}), 0u);
  EXPECT_EQ(FlashChecksumOf({}), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(FirmwareImage, IsTheConfiguredFileByteForByte) {
  std::ifstream file(BRIVELTON_TEST_IMAGE_PATH, std::ios::binary);
  ASSERT_TRUE(file) << BRIVELTON_TEST_IMAGE_PATH;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_EQ(bytes.size(), 512000u);
  const auto image = BuiltInImage().bytes();
  ASSERT_EQ(image.size(), 512000u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin()));

  EXPECT_TRUE(BuiltInImage().Page(125).empty());
  EXPECT_TRUE(BuiltInImage().Page(-1).empty());
  for (int n : {0, 1, 124}) {
    const auto page = BuiltInImage().Page(n);
    ASSERT_EQ(page.size(), 4096u);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + n * 4096)) << n;
  }
}

TEST(FirmwareImage, ExpectedChecksumIsTheImageChecksum) {
  const uint32_t r = SlowCrcRegister(BuiltInImage().bytes());
  const std::array<uint8_t, 4> expected = {
      static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8),
      static_cast<uint8_t>(r >> 16), static_cast<uint8_t>(r >> 24)};
  EXPECT_EQ(BuiltInImage().checksum(), expected);
  EXPECT_EQ(r, ~Crc32(BuiltInImage().bytes()));
}

TEST(FirmwareImage, VersionAndItsText) {
  EXPECT_EQ(BuiltInImage().version(), static_cast<uint32_t>(BRIVELTON_TEST_IMAGE_VERSION));
  EXPECT_EQ(VersionText(0x204), "2.04");
  EXPECT_EQ(VersionText(0x1FF), "1.FF");
  EXPECT_EQ(VersionText(0x010), "0.10");
}

// An image made at run time is a value like the built-in one: its checksum
// is computed from its bytes, and its pages stop at its end.
TEST(FirmwareImage, ImageFromBytesComputesItsOwnChecksum) {
  std::vector<uint8_t> bytes(kFirmwareSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / kPageSize);
  const FirmwareImage image(bytes, 0x305);
  EXPECT_EQ(image.version(), 0x305u);
  EXPECT_EQ(image.checksum(), FlashChecksumOf(bytes));
  EXPECT_NE(image.checksum(), BuiltInImage().checksum());
  ASSERT_EQ(image.Page(124).size(), static_cast<size_t>(kPageSize));
  EXPECT_EQ(image.Page(124)[0], 124);
  EXPECT_EQ(image.Page(7)[kPageSize - 1], 7);
  EXPECT_TRUE(image.Page(125).empty());
  EXPECT_TRUE(image.Page(-1).empty());
  const FirmwareImage short_image(std::vector<uint8_t>(kPageSize + 10, 0xAB), 0x204);
  EXPECT_EQ(short_image.Page(0).size(), static_cast<size_t>(kPageSize));
  EXPECT_TRUE(short_image.Page(1).empty());
}

struct IdentityCase {
  std::array<uint8_t, 6> address;
  const char* name;
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
  *os << "address";
  for (uint8_t b : c.address) *os << '_' << std::hex << int{b};
}

class IdentityPage : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityPage, CarriesTheAddressAndTheNameDerivedFromIt) {
  const auto& c = GetParam();
  const auto page = BuildIdentityPage(c.address);
  EXPECT_TRUE(std::equal(c.address.begin(), c.address.end(), page.begin()));
  // The name is NUL-terminated at byte 20.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&page[6])), c.name);
  for (size_t i = 20; i < 38; ++i) EXPECT_EQ(page[i], 0x00) << i;
  for (size_t i = 38; i < page.size(); ++i) ASSERT_EQ(page[i], 0xFF) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, IdentityPage,
    ::testing::Values(IdentityCase{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, "Brivelton(211)"},
                      IdentityCase{{0x00, 0x01, 0x00, 0x03, 0x04, 0x06}, "Brivelton(100)"},
                      IdentityCase{{0xAB, 0xCD, 0x00, 0x00, 0x00, 0x00}, "Brivelton(DAB)"},
                      IdentityCase{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "Brivelton(FFF)"},
                      IdentityCase{{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "Brivelton(000)"}),
    ::testing::PrintToStringParamName());

}  // namespace
}  // namespace brivelton
