// The built-in image, its checksum and the identity page.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "update/checksum.h"
#include "update/firmware_image.h"
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
  const auto image = FirmwareImage();
  ASSERT_EQ(image.size(), 512000u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin()));

  EXPECT_TRUE(FirmwarePage(125).empty());
  EXPECT_TRUE(FirmwarePage(-1).empty());
  for (int n : {0, 1, 124}) {
    const auto page = FirmwarePage(n);
    ASSERT_EQ(page.size(), 4096u);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + n * 4096)) << n;
  }
}

TEST(FirmwareImage, ExpectedChecksumIsTheImageChecksum) {
  const uint32_t r = SlowCrcRegister(FirmwareImage());
  const std::array<uint8_t, 4> expected = {
      static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8),
      static_cast<uint8_t>(r >> 16), static_cast<uint8_t>(r >> 24)};
  EXPECT_EQ(ExpectedChecksum(), expected);
  EXPECT_EQ(r, ~Crc32(FirmwareImage()));
}

TEST(FirmwareImage, VersionAndItsText) {
  EXPECT_EQ(AvailableVersion, static_cast<uint32_t>(BRIVELTON_FIRMWARE_VERSION));
  EXPECT_EQ(VersionText(0x204), "2.04");
  EXPECT_EQ(VersionText(0x1FF), "1.FF");
  EXPECT_EQ(VersionText(0x010), "0.10");
  EXPECT_EQ(AvailableVersionText(), VersionText(AvailableVersion));
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
                      IdentityCase{{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "Brivelton(000)"}));

}  // namespace
}  // namespace brivelton
