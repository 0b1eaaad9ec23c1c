// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/discovery_fixture.h"
#include "link/frames.h"
#include "sim/virtual_adapter.h"
#include "resources/firmware_image.h"

namespace brivelton::testing {
namespace {

using enum CommandKind;

using Lines = std::vector<std::string>;
using Status = PortListing::Status;

const std::string kLongName =
    "/dev/serial/by-id/usb-Brivelton_Phone_Adapter_0123456789AB-if00-port0";

// A far end that never answers, and notes what reached it.
class SilentRecorder : public VirtualPeer {
 public:
  struct Frame {
    std::vector<uint8_t> bytes;
    uint32_t baud;
    bool operator==(const Frame&) const = default;
  };
  void OnHostBytes(VirtualLine&, std::span<const uint8_t> bytes,
                   std::span<const uint64_t>, uint32_t baud) override {
    frames.push_back({{bytes.begin(), bytes.end()}, baud});
  }
  std::vector<Frame> frames;
};

class Bench : public DiscoveryFixture {
 public:
  void Silent(const std::string& name) { virtual_ports.AddPort(name, nullptr); }
  sim::VirtualAdapter& Adapter(const std::string& name) { return HostBench::Adapter({}, name); }
};

struct SearchCase {
  const char* name;
  Status status;
  std::vector<std::optional<std::string>> entries;
  std::vector<std::string> silent;    // ports with nothing behind them
  std::vector<std::string> adapters;  // ports with an adapter behind them
  std::vector<std::string> busy;      // adapters whose port another program holds
  std::vector<std::string> denied;    // ports the user may not open
  int found;
  Lines log;
  std::string port_name;  // before the search: "COM7"
  std::vector<std::string> opened;  // open attempts, in order
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

const char* kSearch = " Search Device ...";
const char* kNotFound = " Can't find device.";
const char* kMaybeUsed = " COM port may be used by others.";
const char* kScanFailed = " Scan all the COM ports and can't find the device.";

const SearchCase kSearchCases[] = {
    {"AdapterBehindSilentPort", Status::kOk, {"COM1", "COM3"}, {"COM1"}, {"COM3"}, {}, {},
     1, {kSearch, " Found device on COM3"}, "COM3", {"COM1", "COM3"}},
    {"FirstAnsweringPortWins", Status::kOk, {"COM2", "COM8"}, {}, {"COM2", "COM8"}, {}, {},
     1, {kSearch, " Found device on COM2"}, "COM2", {"COM2"}},
    {"EmptyListProbesNothing", Status::kOk, {}, {}, {"COM3"}, {}, {},
     0, {kSearch, " No COM port available, Device may not attached."}, "COM7", {}},
    {"ListMissingFallbackHitsCOM12", Status::kCantOpen, {"COM1"}, {"COM3"}, {"COM12"}, {}, {},
     1, {kSearch, " Can't find comm port registry key", " Found device on COM12"}, "COM12",
     ComNames(0, 12)},
    {"ListUncountableFallbackFindsNothing", Status::kCantQuery, {}, {"COM1", "COM24"}, {}, {},
     {}, 0, {kSearch, " Can't query comm port information", kScanFailed}, "COM7",
     ComNames(0, 24)},
    {"BusyPortStaysSilent", Status::kOk, {"COM4", "COM5"}, {"COM5"}, {"COM4"}, {"COM4"}, {},
     0, {kSearch, kNotFound, kMaybeUsed}, "COM7", {"COM4", "COM5"}},
    {"MissingPortFailsItsProbe", Status::kOk, {"COM9", "COM3"}, {}, {"COM3"}, {}, {},
     1, {kSearch, " Found device on COM3"}, "COM3", {"COM9", "COM3"}},
    {"UnreadableEntrySkipped", Status::kOk, {std::nullopt, "COM2", std::nullopt}, {},
     {"COM2"}, {}, {}, 1, {kSearch, " Found device on COM2"}, "COM2", {"COM2"}},
    {"UnreadableEntriesOnly", Status::kOk, {std::nullopt, std::nullopt}, {}, {}, {}, {},
     0, {kSearch, kNotFound, kMaybeUsed}, "COM7", {}},
    {"LongNameKeptWhole", Status::kOk, {"/dev/ttyS0", kLongName}, {"/dev/ttyS0"}, {kLongName},
     {}, {}, 1, {kSearch, " Found device on " + kLongName}, kLongName,
     {"/dev/ttyS0", kLongName}},
    {"PermissionDeniedNamedAfterNotFound", Status::kOk,
     {"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"}, {"/dev/ttyACM0"},
     {"/dev/ttyUSB0", "/dev/ttyUSB1"}, {}, {"/dev/ttyUSB0", "/dev/ttyUSB1"}, 0,
     {kSearch, kNotFound, kMaybeUsed,
      " No permission to open /dev/ttyUSB0 (on most Linux systems, join the 'dialout' "
      "group)."},
     "COM7", {"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"}},
    {"PermissionDeniedInFallbackScan", Status::kCantOpen, {}, {}, {"COM5"}, {}, {"COM5"}, 0,
     {kSearch, " Can't find comm port registry key", kScanFailed,
      " No permission to open COM5 (on most Linux systems, join the 'dialout' group)."},
     "COM7", ComNames(0, 24)},
    {"PermissionDeniedButFoundElsewhere", Status::kOk, {"/dev/ttyUSB0", "/dev/ttyACM0"}, {},
     {"/dev/ttyACM0"}, {}, {"/dev/ttyUSB0"}, 1, {kSearch, " Found device on /dev/ttyACM0"},
     "/dev/ttyACM0", {"/dev/ttyUSB0", "/dev/ttyACM0"}},
};

class FindDeviceTable : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FindDeviceTable, LogPortNameAndProbes) {
  const SearchCase& c = GetParam();
  Bench b;
  for (const auto& name : c.silent) b.Silent(name);
  for (const auto& name : c.adapters) b.Adapter(name);
  for (const auto& name : c.busy) b.virtual_ports.Find(name)->set_busy(true);
  b.Deny(c.denied);
  b.list.listing.status = c.status;
  b.list.listing.entries = c.entries;
  b.AfterCheckDevice({.port = "COM7"});

  EXPECT_EQ(b.discovery.FindDevice(), c.found);

  EXPECT_EQ(b.view.log, c.log);
  EXPECT_EQ(b.state().PortName, c.port_name);
  EXPECT_EQ(b.ports.opened, c.opened);
  EXPECT_FALSE(b.state().is_open());
  EXPECT_EQ(b.virtual_ports.open_ports(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lists, FindDeviceTable, ::testing::ValuesIn(kSearchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A search must let go of the port it holds first: OpenPort accepts any open
// port, so the probe of a silent port would reach the adapter on the held one.
TEST(FindDevice, ReleasesHeldPortBeforeProbing) {
  Bench b;
  b.Silent("COM1");
  b.Adapter("COM3");
  b.SetPorts({"COM1", "COM3"});
  ASSERT_TRUE(b.AfterCheckDevice({.open = true}));

  EXPECT_TRUE(b.discovery.FindDevice());
  EXPECT_EQ(b.view.log, (Lines{kSearch, " Found device on COM3"}));
  EXPECT_EQ(b.ports.opened, (std::vector<std::string>{"COM3", "COM1", "COM3"}));
  EXPECT_FALSE(b.state().is_open());
}

// The permission hint belongs to the search that met the refusal.
TEST(FindDevice, PermissionHintOnlyForThisSearch) {
  Bench b;
  b.Silent("/dev/ttyUSB0");
  b.SetPorts({"/dev/ttyUSB0"});
  b.Deny({"/dev/ttyUSB0"});
  ASSERT_FALSE(b.discovery.FindDevice());
  ASSERT_EQ(b.view.log.size(), 4u);

  b.ports.faults.refused.clear();
  const size_t second = b.view.log.size();
  EXPECT_FALSE(b.discovery.FindDevice());
  EXPECT_EQ(b.view.LogFrom(second), (Lines{kSearch, kNotFound, kMaybeUsed}));
}

TEST(ProbePort, SilentPortRestartsAtBothSpeedsAndChecksAgain) {
  Bench b;
  SilentRecorder& recorder = b.Attach<SilentRecorder>();
  b.virtual_ports.AddPort("COM1", &recorder);
  auto frame = [&](CommandKind kind, uint32_t baud) {
    return SilentRecorder::Frame{BuildFrame(kind), baud};
  };
  const uint64_t start = b.clock.NowUs();

  EXPECT_FALSE(b.discovery.ProbePort("COM1"));

  const uint64_t cost_us = b.clock.NowUs() - start;
  // Each exchange without answer sends its frame twice.
  const std::vector<SilentRecorder::Frame> expected = {
      frame(LinkCheck, 115200),   frame(LinkCheck, 115200),
      frame(ResetStepA, 1000000), frame(ResetStepA, 1000000),
      frame(ResetStepB, 1000000), frame(ResetStepB, 1000000),
      frame(ResetStepA, 115200),  frame(ResetStepA, 115200),
      frame(ResetStepB, 115200),  frame(ResetStepB, 115200),
      frame(LinkCheck, 115200),   frame(LinkCheck, 115200),
  };
  EXPECT_EQ(recorder.frames, expected);
  EXPECT_FALSE(b.state().is_open());
  EXPECT_FALSE(b.virtual_ports.Find("COM1")->host_open());
  EXPECT_TRUE(b.view.log.empty());
  ::testing::Test::RecordProperty("silent_probe_virtual_us", std::to_string(cost_us));
  std::printf("silent port probe: %zu frames, %.3f s virtual\n", recorder.frames.size(),
              cost_us / 1e6);
}

TEST(ProbePort, AnsweringAdapterIsProbedOnceAndReleased) {
  Bench b;
  sim::VirtualAdapter& adapter = b.Adapter("COM3");
  const uint64_t start = b.clock.NowUs();
  EXPECT_TRUE(b.discovery.ProbePort("COM3"));
  std::printf("answering port probe: %.3f ms virtual\n", (b.clock.NowUs() - start) / 1e3);
  ASSERT_EQ(adapter.model().frames().size(), 1u);
  EXPECT_EQ(adapter.model().frames()[0].kind, LinkCheck);
  EXPECT_EQ(adapter.model().restarts(), 0);
  EXPECT_FALSE(adapter.line().host_open());
}

// A port that opens but cannot be set up says nothing and is let go: left
// open, it would be taken as already open by every later probe.
TEST(ProbePort, PortThatCannotBeSetUpIsClosedUnprobed) {
  const std::pair<const char*, testing::PortFaults> cases[] = {
      {"time-outs", {.set_timeouts = true}},
      {"events", {.set_event_mask = true}},
  };
  for (const auto& [what, faults] : cases) {
    SCOPED_TRACE(what);
    Bench b;
    sim::VirtualAdapter& adapter = b.Adapter("COM3");
    b.ports.faults = faults;
    EXPECT_FALSE(b.discovery.ProbePort("COM3"));
    EXPECT_FALSE(b.state().is_open());
    EXPECT_FALSE(adapter.line().host_open());
    EXPECT_TRUE(adapter.model().frames().empty());

    b.ports.faults = {};
    EXPECT_TRUE(b.discovery.ProbePort("COM3"));
    EXPECT_EQ(b.ports.Opens("COM3"), 2);
  }
}

// The restart pair leaves the port at the firmware's speed, whatever it was.
TEST(RestartDevice, EndsAtFirmwareSpeed) {
  Bench b;
  sim::VirtualAdapter& adapter = b.Adapter("COM3");
  ASSERT_TRUE(b.AfterCheckDevice({.open = true}));
  ASSERT_EQ(b.link.ConfigurePort(1000000), 1);
  adapter.line().baud_history().clear();

  b.discovery.RestartDevice();

  EXPECT_EQ(adapter.line().baud_history(), (std::vector<uint32_t>{1000000, 115200}));
  EXPECT_EQ(adapter.line().host_baud(), 115200u);
  EXPECT_GE(adapter.model().restarts(), 1);
  EXPECT_TRUE(b.state().is_open());
}

class CheckDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    b.Silent("COM1");
    adapter = &b.Adapter("COM3");
    b.SetPorts({"COM1", "COM3"});
  }
  Bench b;
  sim::VirtualAdapter* adapter = nullptr;
};

TEST_F(CheckDevice, FindsAdapterBehindSilentPortAndLeavesItOpen) {
  if (BuiltInImage().version() != 0x204) GTEST_SKIP() << "advice is for the 0x204 image";
  EXPECT_FALSE(b.view.IsVisible(kIdUpdateFirmware));
  const uint64_t start = b.clock.NowUs();

  EXPECT_TRUE(b.dialog().OnCheckDevice());

  std::printf("Check Device: %.3f s virtual\n", (b.clock.NowUs() - start) / 1e6);
  EXPECT_EQ(b.view.log, (Lines{kSearch, " Found device on COM3",
                               " Device Firmware Version = 1FF",
                               " Available Firmware for update = 204", " ",
                               " There is newer firmware available.",
                               " Click \"Update\" to update.",
                               " Update firmware before set parameters.", " "}));
  EXPECT_TRUE(b.view.IsVisible(kIdUpdateFirmware));
  EXPECT_TRUE(b.view.IsVisible(kIdSetting));
  EXPECT_EQ(b.state().PortName, "COM3");
  EXPECT_EQ(b.facts().DeviceVersion, 0x1FF);
  EXPECT_TRUE(b.state().is_open());
  EXPECT_TRUE(adapter->line().host_open());
  EXPECT_EQ(adapter->line().host_baud(), 115200u);
  EXPECT_EQ(b.virtual_ports.open_ports(), 1);
}

TEST_F(CheckDevice, LostAdapterHidesButtonsAndKeepsWhatWasFound) {
  b.dialog().OnCheckDevice();
  ASSERT_TRUE(b.view.IsVisible(kIdSetting));
  adapter->line().set_present(false);
  const size_t second = b.view.log.size();

  EXPECT_FALSE(b.dialog().OnCheckDevice());

  EXPECT_EQ(b.view.LogFrom(second), (Lines{kSearch, kNotFound, kMaybeUsed, " ",
                                           " Please check device connection.", " "}));
  EXPECT_FALSE(b.view.IsVisible(kIdUpdateFirmware));
  EXPECT_FALSE(b.view.IsVisible(kIdSetting));
  EXPECT_FALSE(b.state().is_open());
  EXPECT_EQ(b.virtual_ports.open_ports(), 0);
  EXPECT_EQ(b.state().PortName, "COM3");
  EXPECT_EQ(b.facts().DeviceVersion, 0x1FF);
}

// The port is found but cannot be held again (another program took it in
// between): the buttons stay, and the advice comes from the old version.
TEST_F(CheckDevice, PortTakenAfterSearchStillAdvises) {
  if (BuiltInImage().version() != 0x204) GTEST_SKIP() << "advice is for the 0x204 image";
  // Refuse COM3 from its second opening on: the probe gets it, the reopen not.
  b.ports.faults.busy_after["COM3"] = 1;
  b.AfterCheckDevice({.version = 0x203, .port = {}});

  b.dialog().OnCheckDevice();

  // With no port to write to, every query reports its failed write.
  Lines expected = {kSearch, " Found device on COM3"};
  expected.insert(expected.end(), 10, " Write file error");
  expected.insert(expected.end(), {" ", " Can't get version number", " ", " ",
                               " There is newer firmware available.",
                               " Click \"Update\" to update.",
                               " Click \"Setting\" to set parameters.", " "});
  EXPECT_EQ(b.view.log, expected);
  EXPECT_TRUE(b.view.IsVisible(kIdUpdateFirmware));
  EXPECT_TRUE(b.view.IsVisible(kIdSetting));
  EXPECT_FALSE(b.state().is_open());
  // 10 reopen tries, then each of the 10 version queries tries once more.
  EXPECT_EQ(b.ports.Opens("COM3"), 1 + 10 + 10);
}

}  // namespace
}  // namespace brivelton::testing
