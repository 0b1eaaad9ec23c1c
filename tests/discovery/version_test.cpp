// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/discovery_fixture.h"
#include "discovery/version.h"
#include "link/frames.h"
#include "support/scripted_peer.h"
#include "resources/firmware_image.h"

namespace brivelton::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const Bytes kLinkCheckFrame = {0x01, 0xE0, 0xFC, 0x01, 0x00};
const Bytes kLinkCheckReply = {0x04, 0x0E, 0x05, 0x01, 0xE0, 0xFC, 0x01, 0x00};
const Bytes kVersionFrame = {'/', 'v'};

TEST(ParseVersion3, ThreeDigitsAsOneNumber) {
  EXPECT_EQ(ParseVersion3('2', '0', '4'), 0x204);
  EXPECT_EQ(ParseVersion3('1', 'f', 'F'), 0x1FF);
  EXPECT_EQ(ParseVersion3('2', 'x', '4'), 0x204);
  EXPECT_EQ(ParseVersion3('F', 'F', 'F'), 0xFFF);
  EXPECT_EQ(ParseVersion3('0', '0', '0'), 0x000);
  EXPECT_EQ(ParseVersion3('?', '?', '7'), 0x007);
}

// A version reply of the catalogue's 33 bytes: `text` placed at `at`, the
// rest filled with spaces and cut at 33.
Bytes VersionReply(const std::string& text, size_t at = 2) {
  std::string reply(33, ' ');
  reply.replace(at, std::min(text.size(), reply.size() - at),
                text.substr(0, reply.size() - at));
  reply[0] = '\r';
  return Bytes(reply.begin(), reply.end());
}

// An adapter that answers the link check, and "/v" from a list of replies
// (the last one over and over).
class VersionAdapter : public ScriptedPeer {
 public:
  VersionAdapter(DiscoveryFixture& f, const std::string& port)
      : ScriptedPeer([this](const Bytes& frame) { return Answer(frame); }) {
    f.virtual_ports.AddPort(port, this);
    f.SetPorts({port});
  }
  std::vector<Bytes> version_replies;
  int version_queries = 0;

 private:
  Bytes Answer(const Bytes& frame) {
    if (frame == kLinkCheckFrame) return kLinkCheckReply;
    if (frame == kVersionFrame && !version_replies.empty()) {
      const size_t i = std::min<size_t>(version_queries, version_replies.size() - 1);
      ++version_queries;
      return version_replies[i];
    }
    return {};
  }
};

struct VersionCase {
  const char* name;
  std::vector<Bytes> replies;
  std::optional<int> version_before;  // none: no version read yet
  std::optional<int> version_after;
  int queries;
  Lines log;  // after " Found device on COM3"
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }


Lines LatestAdvice() {
  return {" ", " You have latest or newer version.", " Click \"Update\" to overwrite.",
          " Click \"Setting\" to set parameters.", " "};
}
Lines NewerAdvice(const char* last) {
  return {" ", " There is newer firmware available.", " Click \"Update\" to update.", last,
          " "};
}
Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Lines Found(const char* version) {
  return {std::string(" Device Firmware Version = ") + version,
          " Available Firmware for update = 204"};
}
const Lines kNoVersion = {" ", " Can't get version number", " "};
const char* kSetFirst = " Update firmware before set parameters.";
const char* kSetting = " Click \"Setting\" to set parameters.";

const VersionCase kVersionCases[] = {
    {"Latest", {VersionReply("BN Version = 204")}, std::nullopt, 0x204, 1,
     Join(Found("204"), LatestAdvice())},
    {"LowerCaseOlderThanSetting", {VersionReply("BN Version = 1ff")}, std::nullopt, 0x1FF, 1,
     Join(Found("1FF"), NewerAdvice(kSetFirst))},
    {"OlderButSettable", {VersionReply("BN Version = 203")}, std::nullopt, 0x203, 1,
     Join(Found("203"), NewerAdvice(kSetting))},
    {"NonDigitCountsAsZero", {VersionReply("BN Version = 2x4")}, std::nullopt, 0x204, 1,
     Join(Found("204"), LatestAdvice())},
    {"Newer", {VersionReply("BN Version = 300")}, std::nullopt, 0x300, 1,
     Join(Found("300"), LatestAdvice())},
    // The marker may start as late as byte 17 of the 33.
    {"MarkerAtLastPlace", {VersionReply("BN Version = 2A0", 17)}, std::nullopt, 0x2A0, 1,
     Join(Found("2A0"), LatestAdvice())},
    // The digits would lie past the reply's end: no version, not 0x200.
    {"DigitsCutOffByReplyEnd", {VersionReply("BN Version = 205", 18)}, 0x1FF, 0x1FF, 10,
     Join(kNoVersion, NewerAdvice(kSetFirst))},
    {"NoMarkerTenTimesKeepsOldVersion", {VersionReply("BN Ver = 204")}, 0x203, 0x203, 10,
     Join(kNoVersion, NewerAdvice(kSetting))},
    {"NoMarkerAtFirstCheckAdvisesUpdate", {VersionReply("hello")}, std::nullopt, std::nullopt, 10,
     Join(kNoVersion, NewerAdvice(kSetFirst))},
    {"SilentThenAnswers", {{}, {}, VersionReply("BN Version = 210")}, std::nullopt, 0x210, 3,
     Join(Found("210"), LatestAdvice())},
};

class CheckDeviceVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(CheckDeviceVersion, VersionAndAdvice) {
  if (BuiltInImage().version() != 0x204) GTEST_SKIP() << "advice table is for the 0x204 image";
  const VersionCase& c = GetParam();
  DiscoveryFixture f;
  VersionAdapter& adapter = f.Attach<VersionAdapter>(f, "COM3");
  adapter.version_replies = c.replies;
  f.AfterCheckDevice({.version = c.version_before, .port = {}});

  f.dialog().OnCheckDevice();

  EXPECT_EQ(f.view.log, Join({" Search Device ...", " Found device on COM3"}, c.log));
  EXPECT_EQ(f.facts().DeviceVersion, c.version_after);
  EXPECT_EQ(adapter.version_queries, c.queries);
  EXPECT_TRUE(f.view.IsVisible(kIdUpdateFirmware));
  EXPECT_TRUE(f.view.IsVisible(kIdSetting));
  EXPECT_TRUE(f.state().is_open());
}

INSTANTIATE_TEST_SUITE_P(Replies, CheckDeviceVersion, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A short reply after a whole one: the earlier reply's marker must not pass
// the old version off as current.
TEST(QueryFirmwareVersion, StaleMarkerBehindShortReplyIsIgnored) {
  DiscoveryFixture f;
  VersionAdapter& adapter = f.Attach<VersionAdapter>(f, "COM3");
  const Bytes full = VersionReply("BN Version = 300", 17);
  const Bytes short_reply = {'\r', '\n', 'E', 'R', 'R', '\r', '\n'};
  adapter.version_replies = {full, short_reply};
  ASSERT_TRUE(f.AfterCheckDevice({.open = true}));

  ASSERT_TRUE(f.discovery.QueryFirmwareVersion());
  ASSERT_EQ(f.facts().DeviceVersion, 0x300);
  f.AfterCheckDevice({.version = 0x1FF});  // as after a run with another adapter
  const size_t before = f.view.log.size();

  EXPECT_FALSE(f.discovery.QueryFirmwareVersion());
  EXPECT_TRUE(f.Traced(" cmd = 22, loop = 1, readcnt = 7\n"));
  EXPECT_EQ(f.facts().DeviceVersion, 0x1FF);
  EXPECT_EQ(f.facts().VersionChars, (std::array<char, 3>{'0', '0', '0'}));
  EXPECT_EQ(f.view.LogFrom(before), Lines{});
}

TEST(QueryFirmwareVersion, VersionCharactersKeptAsReceived) {
  DiscoveryFixture f;
  VersionAdapter& adapter = f.Attach<VersionAdapter>(f, "COM3");
  adapter.version_replies = {VersionReply("v1 BN Version = 1fE", 4)};
  ASSERT_TRUE(f.AfterCheckDevice({.open = true}));
  ASSERT_TRUE(f.discovery.QueryFirmwareVersion());
  EXPECT_EQ(f.facts().VersionChars, (std::array<char, 3>{'1', 'f', 'E'}));
  EXPECT_EQ(f.facts().DeviceVersion, 0x1FE);
}

TEST(QueryFirmwareVersion, NothingToAskFails) {
  DiscoveryFixture f;
  f.AfterCheckDevice({.version = 0x203, .port = {}});
  f.facts().VersionChars = {'2', '0', '3'};
  EXPECT_FALSE(f.discovery.QueryFirmwareVersion());
  EXPECT_EQ(f.facts().DeviceVersion, 0x203);
  EXPECT_EQ(f.facts().VersionChars, (std::array<char, 3>{'0', '0', '0'}));
  EXPECT_EQ(f.view.log, Lines{" Write file error"});
}

}  // namespace
}  // namespace brivelton::testing
