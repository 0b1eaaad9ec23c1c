// SPDX-License-Identifier: MIT
// A firmware file given at run time: its options, its version and the rules
// the built-in image follows (size, checksum computed from the bytes).
#include "resources/firmware_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "resources/checksum.h"
#include "support/failure_of.h"
#include "support/scratch_dir.h"

namespace brivelton {
namespace {

namespace fs = std::filesystem;

TEST(FirmwareFile, LoadsAnImageUnderTheBuiltInOnesRules) {
  const testing::ScratchDir scratch("brivelton_fw");
  const fs::path& dir = scratch.path();
  std::vector<uint8_t> bytes(kFirmwareSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 9));
  std::ofstream(dir / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  // Nothing named: nothing loaded, the built-in image stays.
  const auto none = LoadFirmwareFile({});
  ASSERT_EQ(FailureOf(none), "");
  EXPECT_EQ(*none, nullptr);

  const auto loaded = LoadFirmwareFile({(dir / "fw.bin").string(), "0x2b7"});
  ASSERT_EQ(FailureOf(loaded), "");
  const auto& image = *loaded;
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->version(), 0x2B7u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image->bytes().begin(),
                         image->bytes().end()));
  EXPECT_EQ(image->checksum(), FlashChecksumOf(bytes));
  EXPECT_NE(image->checksum(), BuiltInImage().checksum());

  // Options that do not make sense fail before the file is read.
  const std::pair<ImageOptions, std::string> bad[] = {
      {{(dir / "fw.bin").string(), {}},
       "option --image needs --image-version HEX, the version of the image, as in "
       "--image-version 204"},
      {{{}, "204"}, "option --image-version goes with --image FILE"},
      {{"/nonexistent/fw.bin", "xyz"},
       "bad image version 'xyz'; give one to three hexadecimal digits, as in 204 for 2.04"},
  };
  for (const auto& [options, message] : bad) {
    EXPECT_EQ(FailureOf(LoadFirmwareFile(options)), message);
  }
}

}  // namespace
}  // namespace brivelton
