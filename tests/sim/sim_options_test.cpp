// SPDX-License-Identifier: MIT
// brivelton-sim's command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "link/frames.h"
#include "sim/sim_options.h"

namespace brivelton::sim {
namespace {

using enum CommandKind;

using Args = std::vector<std::string>;

TEST(SimOptions, TakesTheStartingStateAndEveryFault) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(
      {"--version", "2a", "--address", "11:22:33:44:55:66", "--blank-identity", "--param", "4=10",
       "--param=5=0x50", "--boot-entry", "bursts", "--seed", "9", "--silent", "--ignore",
       "LinkCheck=2", "--short", "17=1", "--short-bytes", "4", "--extra-bytes", "3",
       "--drop-rate", "0.25", "--flip-rate=0.5", "--wrong-checksum", "--short-checksum",
       "--wrong-identity", "2", "--no-version-marker", "--bad-param-ack", "--hangup-after-bytes", "100", "--hangup-step",
       "page-write:17", "--hangup-count", "2", "--busy", "--time-scale", "0.5",
       "--wire-scale=0.25", "--timing", "erase-64k=1000", "--bridge", "ftdi", "--verbose", "--link", "/tmp/x",
       "--dump-flash", "f", "--dump-params", "p", "--image-version", "0x321"},
      o, error))
      << error;
  const AdapterConfig& c = o.config;
  EXPECT_EQ(c.version, 0x2Au);
  EXPECT_EQ(c.bt_address, (std::array<uint8_t, 6>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  EXPECT_TRUE(c.blank_identity);
  EXPECT_EQ(c.params.at(4), 10u);
  EXPECT_EQ(c.params.at(5), 0x50u);
  EXPECT_EQ(c.params.at(1), 1u);  // the others keep their defaults
  EXPECT_EQ(c.boot_entry, BootEntry::kBursts);
  EXPECT_EQ(c.image_version, 0x321u);
  EXPECT_EQ(c.timing.erase_64k_us, 1000u);
  EXPECT_EQ(c.bridge.packet_bytes, 62u);
  EXPECT_EQ(c.bridge.hold_us, 16'000u);
  EXPECT_FALSE(c.bridge.low_latency);
  const Faults& f = c.faults;
  EXPECT_EQ(f.seed, 9u);
  EXPECT_TRUE(f.silent);
  EXPECT_EQ(f.ignore_kind.at(LinkCheck), 2);
  EXPECT_EQ(f.short_reply_kind.at(FlashChecksum), 1);
  EXPECT_EQ(f.short_reply_bytes, 4);
  EXPECT_EQ(f.extra_bytes, 3);
  EXPECT_DOUBLE_EQ(f.drop_rate, 0.25);
  EXPECT_DOUBLE_EQ(f.flip_rate, 0.5);
  EXPECT_TRUE(f.wrong_checksum && f.short_checksum && f.version_without_marker && f.bad_param_ack);
  EXPECT_EQ(f.wrong_identity_writes, 2);
  EXPECT_EQ(f.hangup_after_bytes, 100);
  EXPECT_EQ(f.hangup_step, UpdateStep::kPageWrite);
  EXPECT_EQ(f.hangup_index, 17);
  EXPECT_EQ(f.hangup_count, 2);
  EXPECT_TRUE(f.busy);
  EXPECT_DOUBLE_EQ(o.time_scale, 0.5);
  EXPECT_DOUBLE_EQ(o.wire_scale, 0.25);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_EQ(o.dump_flash, "f");
  EXPECT_EQ(o.dump_params, "p");
}

TEST(SimOptions, RefusesBadInputWithOneLine) {
  const Args bad[] = {
      {"--bogus"},
      {"--version"},
      {"--version", "1FFF"},
      {"--version", "xyz"},
      {"--address", "001BDC0F21"},
      {"--param", "11=1"},
      {"--param", "4"},
      {"--param", "4=-1"},
      {"--boot-entry", "magic"},
      {"--bridge", "usb"},
      {"--ignore", "NoSuchKind=1"},
      {"--short", "LinkCheck=x"},
      {"--drop-rate", "1.5"},
      {"--flip-rate", "nan"},
      {"--hangup-step", "dance"},
      {"--hangup-step", "erase:x"},
      {"--hangup-after-bytes", "0"},
      {"--time-scale", "-1"},
      {"--wire-scale", "1001"},
      {"--wire-scale", "inf"},
      {"--timing", "warp=5"},
      {"--silent=yes"},
      {"--flash", "/nonexistent/flash.bin"},
      {"--link", ""},
  };
  for (const Args& args : bad) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(SimOptions, FlashFileIsPaddedAndAnOversizedOneRefused) {
  const std::string path = ::testing::TempDir() + "sim_options_flash.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out << "abc";
  }
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--flash", path}, o, error)) << error;
  EXPECT_EQ(o.config.flash, (std::vector<uint8_t>{'a', 'b', 'c'}));
  DeviceModel model(o.config);
  EXPECT_EQ(model.flash().size(), kFlashSize);
  EXPECT_EQ(model.flash()[3], 0xFF);
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(kFlashSize + 1, 'x');
  }
  EXPECT_FALSE(ParseSimOptions({"--flash", path}, o, error));
  std::remove(path.c_str());
}

TEST(SimOptions, TimeScaleAppliesToEveryDeviceTime) {
  Timing t;
  ScaleTiming(t, 0.5);
  const Timing d;
  EXPECT_EQ(t.erase_64k_us, d.erase_64k_us / 2);
  EXPECT_EQ(t.erase_4k_us, d.erase_4k_us / 2);
  EXPECT_EQ(t.page_program_us, d.page_program_us / 2);
  EXPECT_EQ(t.checksum_us, d.checksum_us / 2);
  EXPECT_EQ(t.page_read_us, d.page_read_us / 2);
  EXPECT_EQ(t.restart_us, d.restart_us / 2);
  EXPECT_EQ(t.reply_latency_us, d.reply_latency_us / 2);
}

TEST(SimOptions, EveryDeviceTimeIsSetByItsName) {
  const std::pair<const char*, uint64_t Timing::*> times[] = {
      {"erase-64k", &Timing::erase_64k_us},       {"erase-4k", &Timing::erase_4k_us},
      {"page-program", &Timing::page_program_us}, {"checksum", &Timing::checksum_us},
      {"page-read", &Timing::page_read_us},       {"restart", &Timing::restart_us},
      {"latency", &Timing::reply_latency_us},
  };
  for (const auto& [name, member] : times) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--timing", std::string(name) + "=1234567"}, o, error)) << error;
    EXPECT_EQ(o.config.timing.*member, 1234567u) << name;
    const Timing defaults;
    for (const auto& [other, other_member] : times) {
      if (other_member != member) {
        EXPECT_EQ(o.config.timing.*other_member, defaults.*other_member) << name << " " << other;
      }
    }
  }
}

TEST(SimOptions, SwitchesAndValuesAreToldApart) {
  const std::pair<Args, const char*> cases[] = {
      {{"--busy=1"}, "--busy takes no value"},
      {{"--help=x"}, "--help takes no value"},
      {{"-h=x"}, "unknown option '-=' (see --help)"},  // -h, -= and -x, as getopt reads it
      {{"--", "--verbose"}, "unknown option '--verbose' (see --help)"},
      {{"--seed"}, "--seed needs a value"},
      {{"--dump-params="}, "--dump-params needs a path"},
      {{"--image-version", "1234"},
       "--image-version: '1234' is not one to three hexadecimal digits"},
      {{"--extra-bytes", "-1"}, "--extra-bytes: '-1' is not a count"},
      {{"--flip-rate", "2"}, "--flip-rate: '2' is not a rate from 0 to 1"},
      {{"--time-scale", "fast"}, "--time-scale: 'fast' is not a factor from 0 to 1000"},
      {{"--wire-scale", "-0.5"}, "--wire-scale: '-0.5' is not a factor from 0 to 1000"},
      {{"--short", "Nope=1"}, "--short: 'Nope=1' is not KIND=N with a known kind"},
  };
  for (const auto& [args, expected] : cases) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, o, error)) << args[0];
    EXPECT_EQ(error, expected);
  }
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"-h", "--hangup-count=0", "--short-bytes", "2"}, o, error)) << error;
  EXPECT_TRUE(o.help);
  EXPECT_EQ(o.config.faults.hangup_count, 0);
  EXPECT_EQ(o.config.faults.short_reply_bytes, 2);
}

TEST(SimOptions, UsageNamesEveryOption) {
  EXPECT_STREQ(SimUsage(),
      "usage: brivelton-sim [options]\n"
      "Serves a simulated adapter on a pseudo-terminal; prints the terminal's path.\n"
      "  --link PATH               keep a symlink PATH to the terminal\n"
      "  --version HEX             firmware version of the old image (default 1FF)\n"
      "  --image FILE              image whose presence in flash reports --image-version\n"
      "  --image-version HEX       (default: the built-in image's version)\n"
      "  --address HEX12           Bluetooth address, e.g. 001BDC0F217E\n"
      "  --blank-identity          identity page all FF\n"
      "  --flash FILE              flash contents (up to 1 MiB, padded with FF)\n"
      "  --param OP=VALUE          raw stored parameter value, op 1 to 10\n"
      "  --boot-entry handshake|bursts\n"
      "  --timing NAME=US          erase-64k, erase-4k, page-program, checksum,\n"
      "                            page-read, restart, latency\n"
      "  --bridge none|ftdi|ftdi-low-latency\n"
      "  --time-scale F            multiply device times by F (default 1)\n"
      "  --wire-scale F            multiply the host's byte time by F (default 1)\n"
      "  --dump-flash FILE         write the flash at exit\n"
      "  --dump-params FILE        write the parameters as op=value lines at exit\n"
      "  --dump-stray FILE         write the bytes heard that were no frame\n"
      "faults:\n"
      "  --seed N  --silent  --busy  --wrong-checksum  --short-checksum\n"
      "  --wrong-identity N   (identity page stored wrong N times)\n"
      "  --no-version-marker  --bad-param-ack  --extra-bytes N\n"
      "  --ignore KIND=N  --short KIND=N  --short-bytes N   (KIND: number or name)\n"
      "  --drop-rate R  --flip-rate R   (per byte, 0 to 1)\n"
      "  --hangup-after-bytes N  --hangup-step STEP[:INDEX]  --hangup-count N\n"
      "      STEP: link-check handshake set-baud identity-read unlock erase\n"
      "            page-write identity-write checksum restart\n"
      "  --verbose                 log each frame on stderr\n"
      "  --help\n");
}

TEST(SimOptions, ParamsTextListsTheTenRawValues) {
  AdapterConfig config;
  config.params[4] = 10;
  EXPECT_EQ(ParamsText(DeviceModel(config)),
            "1=1\n2=0\n3=1\n4=10\n5=190\n6=0\n7=1\n8=0\n9=0\n10=0\n");
}

}  // namespace
}  // namespace brivelton::sim
