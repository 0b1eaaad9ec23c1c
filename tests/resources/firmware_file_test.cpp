// A firmware file given at run time: its options, its version and the rules
// the built-in image follows (size, checksum computed from the bytes).
#include "resources/firmware_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "resources/checksum.h"
#include "support/scratch_dir.h"

namespace brivelton {
namespace {

namespace fs = std::filesystem;

TEST(FirmwareFile, VersionIsOneToThreeHexDigits) {
  const std::pair<const char*, std::optional<uint32_t>> cases[] = {
      {"204", 0x204}, {"0x1ff", 0x1FF}, {"0X2A", 0x2A}, {"F", 0xF}, {"000", 0},
      {"", std::nullopt}, {"0x", std::nullopt}, {"1234", std::nullopt},
      {"2.04", std::nullopt}, {"g1", std::nullopt}, {"-1", std::nullopt},
      {" 204", std::nullopt}, {"0x0204", std::nullopt}, {"20h", std::nullopt},
  };
  for (const auto& [text, version] : cases) EXPECT_EQ(ParseImageVersion(text), version) << text;
}

TEST(FirmwareFile, TakesOnlyItsOwnOptionsAndTheirValues) {
  struct Case {
    std::vector<std::string> args;
    bool taken;
    size_t next;  // where the caller goes on
    ImageOptions options;
    std::string error;
  };
  const Case cases[] = {
      {{"--image", "a.bin", "x"}, true, 1, {"a.bin", {}}, ""},
      {{"--image=a.bin"}, true, 0, {"a.bin", {}}, ""},
      {{"--image-version", "204"}, true, 1, {{}, "204"}, ""},
      {{"--image-version=0x204"}, true, 0, {{}, "0x204"}, ""},
      {{"--image"}, true, 0, {}, "option --image needs a file name, as in --image firmware.bin"},
      {{"--image="}, true, 0, {}, "option --image needs a file name, as in --image firmware.bin"},
      {{"--image-version"}, true, 0, {},
       "option --image-version needs the image's version in hexadecimal, as in "
       "--image-version 204"},
      {{"--images", "a"}, false, 0, {}, ""},
      {{"--yes"}, false, 0, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ImageOptions options;
    std::string error;
    size_t i = 0;
    EXPECT_EQ(TakeImageOption(c.args, i, options, error), c.taken);
    EXPECT_EQ(i, c.next);
    EXPECT_EQ(options.path, c.options.path);
    EXPECT_EQ(options.version, c.options.version);
    EXPECT_EQ(error, c.error);
  }
  ImageOptions twice{"a.bin", {}};
  std::string error;
  size_t i = 0;
  const std::vector<std::string> again = {"--image", "b.bin"};
  EXPECT_TRUE(TakeImageOption(again, i, twice, error));
  EXPECT_EQ(error, "option --image is given twice; give it once");
  EXPECT_EQ(twice.path, "a.bin");
}

TEST(FirmwareFile, LoadsAnImageUnderTheBuiltInOnesRules) {
  const testing::ScratchDir scratch("brivelton_fw");
  const fs::path& dir = scratch.path();
  std::vector<uint8_t> bytes(kFirmwareSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 9));
  std::ofstream(dir / "fw.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  std::unique_ptr<FirmwareImage> image;
  std::string error;
  // Nothing named: nothing loaded, the built-in image stays.
  ASSERT_TRUE(LoadFirmwareFile({}, image, error)) << error;
  EXPECT_EQ(image, nullptr);

  ASSERT_TRUE(LoadFirmwareFile({(dir / "fw.bin").string(), "0x2b7"}, image, error)) << error;
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
    EXPECT_FALSE(LoadFirmwareFile(options, image, error));
    EXPECT_EQ(error, message);
    EXPECT_EQ(image, nullptr);
  }
}

}  // namespace
}  // namespace brivelton
