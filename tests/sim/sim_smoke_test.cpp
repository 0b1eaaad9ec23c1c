// SPDX-License-Identifier: MIT
// brivelton-sim as a process: its pseudo-terminal opened through the POSIX
// backend, in real time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/frames.h"
#include "link/link.h"
#include "platform/posix/posix_serial.h"
#include "sim/virtual_serial.h"
#include "support/recording_view.h"
#include "support/sim_process.h"
#include "support/scratch_dir.h"

namespace brivelton::testing {
namespace {

using enum CommandKind;

// The link over the real POSIX backend, in real time.
struct Host {
  explicit Host(const std::string& port) { link.state().PortName = port; }
  PosixSerialPorts ports;
  SystemClock clock;
  RecordingView view;
  MessageLog log{view.sink()};
  Link link{ports, clock, log};
};

std::string ReplyText(const Reply& reply) {
  return std::string(reply.bytes().begin(), reply.bytes().end());
}

TEST(SimProcess, ServesLinkCheckAndVersionOnItsTerminal) {
  const ScratchDir scratch("brivelton-sim");
  const std::string dir = scratch.path().string();
  const std::string link = dir + "/adapter";
  const std::string params = dir + "/params.txt";
  const std::string flash = dir + "/flash.bin";

  SimProcess sim({"--version", "1FE", "--link", link, "--dump-params", params, "--dump-flash",
                  flash});
  const std::string slave = sim.Line();
  ASSERT_EQ(slave.rfind("/dev/", 0), 0u) << slave;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(slave, target);

  {
    Host host(link);
    ASSERT_EQ(host.link.ReopenFoundPort(), 1);
    const Reply check = host.link.Exchange(LinkCheck);
    ASSERT_EQ(check.ok, 1);
    EXPECT_EQ(check.received, 8);
    EXPECT_EQ(check.start[0], 0x04);
    const Reply version = host.link.Exchange(QueryVersion);
    ASSERT_EQ(version.ok, 1);
    ASSERT_EQ(version.received, 33);
    EXPECT_NE(ReplyText(version).find("BN Version = 1FE"), std::string::npos);

    // The host lets go of the port and takes it again.
    host.link.ClosePort();
    ASSERT_EQ(host.link.ReopenFoundPort(), 1);
    const Reply written = host.link.Exchange(ParamWrite, {.param_op = 1, .param_value = 0});
    ASSERT_TRUE(written);
    EXPECT_EQ(written.received, 10);
    // At the wrong speed nothing is understood.
    host.link.ConfigurePort(1000000);
    EXPECT_EQ(host.link.Exchange(LinkCheck).ok, 0);
    host.link.ClosePort();
  }

  EXPECT_EQ(sim.Stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
  std::ifstream in(params);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "1=0\n2=0\n3=1\n4=7\n5=190\n6=0\n7=1\n8=0\n9=0\n10=0\n");
  ASSERT_EQ(stat(flash.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1 << 20);
  std::remove(params.c_str());
  std::remove(flash.c_str());
  rmdir(dir.c_str());
}

// --link replaces only a link to a terminal, as it leaves one: a file, or a
// link to anything else, is somebody's and stays as it is.
TEST(SimProcess, LinkRefusesToReplaceWhatIsNotItsOwn) {
  const ScratchDir scratch("brivelton-sim-link");
  const std::string dir = scratch.path().string();
  std::ofstream(dir + "/file") << "keep";
  std::ofstream(dir + "/target") << "t";
  ASSERT_EQ(symlink((dir + "/target").c_str(), (dir + "/link").c_str()), 0);
  for (const char* name : {"/file", "/link"}) {
    SCOPED_TRACE(name);
    SimProcess sim({"--link", dir + name});
    EXPECT_EQ(sim.Line(2000), "");
    EXPECT_EQ(sim.Stop(), 1);
  }
  std::ifstream file(dir + "/file");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "keep");
  char target[256] = {};
  ASSERT_GT(readlink((dir + "/link").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), dir + "/target");
}

TEST(SimProcess, UnpluggedTerminalComesBackUnderTheLink) {
  const std::string link = ::testing::TempDir() + "sim_smoke_unplug_link";
  SimProcess sim({"--hangup-after-bytes", "8", "--link", link});
  const std::string first = sim.Line();
  ASSERT_FALSE(first.empty());
  Host host(link);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  ASSERT_EQ(host.link.Exchange(LinkCheck).ok, 1);
  EXPECT_EQ(host.link.Exchange(LinkCheck).ok, 0);
  host.link.ClosePort();
  // Back after a while, possibly under another name: the link follows it.
  const std::string second = sim.Line(3000);
  ASSERT_FALSE(second.empty());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(second, target);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  const Reply again = host.link.Exchange(LinkCheck);
  EXPECT_EQ(again.ok, 1);
  EXPECT_EQ(again.received, 8);
  host.link.ClosePort();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, AReplyArrivingWhileNobodyHoldsThePortIsLost) {
  SimProcess sim({"--timing", "latency=200000"});
  const std::string slave = sim.Line();
  ASSERT_FALSE(slave.empty());
  Host host(slave);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  ASSERT_EQ(host.link.SendFrame(LinkCheck), 8);
  host.link.ClosePort();
  usleep(400'000);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  std::array<uint8_t, 16> buffer;
  size_t got = 0;
  ASSERT_TRUE(host.link.state().port->Read(buffer, got));
  EXPECT_EQ(got, 0u);
  host.link.ClosePort();
  EXPECT_EQ(sim.Stop(), 0);
}

// Keeps a process stopped for its scope: what happens meanwhile reaches it
// all at once afterwards.
class Stopped {
 public:
  explicit Stopped(pid_t pid) : pid_(pid) {
    kill(pid_, SIGSTOP);
    // The stop lands a moment after the signal is sent.
    for (int i = 0; i < 1000 && !IsStopped(); ++i) usleep(1000);
  }
  ~Stopped() { kill(pid_, SIGCONT); }
  Stopped(const Stopped&) = delete;
  Stopped& operator=(const Stopped&) = delete;

  bool IsStopped() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    return paren != std::string::npos && line.compare(paren + 1, 3, " T ") == 0;
  }

 private:
  pid_t pid_;
};

// Opens and closes of the port that the simulator takes in at once, as when
// it is slow to be scheduled: a burst of opens reads as one. Stopped meanwhile,
// it must still answer whoever holds the port after the burst, and it hears
// what a host wrote just before it let go.
TEST(SimProcess, OpensAndClosesTakenInAtOnceLeaveTheHolderAnswered) {
  const ScratchDir scratch("brivelton-sim");
  const std::string params = scratch.path().string() + "/params.txt";
  SimProcess sim({"--dump-params", params});
  const std::string slave = sim.Line();
  ASSERT_FALSE(slave.empty());
  const auto open_line = [&] { return open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); };

  // Another opener (a reader of the same port, say) and the host, then the
  // other one leaves: the host still holds it.
  Host host(slave);
  {
    const Stopped stopped(sim.pid());
    ASSERT_TRUE(stopped.IsStopped());
    const int other = open_line();
    ASSERT_GE(other, 0);
    ASSERT_EQ(host.link.ReopenFoundPort(), 1);
    const int passing = open_line();
    ASSERT_GE(passing, 0);
    close(passing);
    close(other);
  }
  const Reply held = host.link.Exchange(LinkCheck);
  ASSERT_EQ(held.ok, 1);
  EXPECT_EQ(held.received, 8);

  // A write, and the writer gone before the simulator looked: the adapter
  // heard it all the same, nobody opening the port again.
  host.link.ClosePort();
  {
    const Stopped stopped(sim.pid());
    ASSERT_TRUE(stopped.IsStopped());
    const int writer = open_line();
    ASSERT_GE(writer, 0);
    const std::vector<uint8_t> frame = BuildFrame(ParamWrite, {.param_op = 3, .param_value = 9});
    ASSERT_EQ(write(writer, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    close(writer);
  }
  usleep(300'000);
  EXPECT_EQ(sim.Stop(), 0);
  std::ifstream in(params);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\n3=9\n"), std::string::npos) << text;
}

// The host's bytes take the line's time, scaled: with --wire-scale 200 and no
// device time, a frame's reply comes no sooner than 200 times its wire time.
TEST(SimProcess, WireScaleStretchesTheHostsBytesOnTheLine) {
  SimProcess sim({"--time-scale", "0", "--wire-scale", "200"});
  const std::string slave = sim.Line();
  ASSERT_FALSE(slave.empty());
  Host host(slave);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  const std::vector<uint8_t> frame = BuildFrame(LinkCheck);
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(host.link.SendFrame(LinkCheck), 8);
  std::vector<uint8_t> reply;
  while (reply.size() < 8 && std::chrono::steady_clock::now() < sent + std::chrono::seconds(10)) {
    std::array<uint8_t, 16> buffer;
    size_t got = 0;
    ASSERT_TRUE(host.link.state().port->Read(buffer, got));
    reply.insert(reply.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
    if (!got) usleep(1000);
  }
  const auto took = std::chrono::steady_clock::now() - sent;
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_EQ(reply[0], 0x04);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(took).count(),
            static_cast<long long>(200 * WireTimeUs(frame.size(), kFirmwareBaud)));
  host.link.ClosePort();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, BusyTerminalCannotBeOpened) {
  SimProcess sim({"--busy"});
  const std::string slave = sim.Line();
  ASSERT_FALSE(slave.empty());
  PosixSerialPorts ports;
  OpenError error = OpenError::kNone;
  EXPECT_EQ(ports.Open(slave, &error), nullptr);
  EXPECT_EQ(error, OpenError::kBusy);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, AsAGroupLeaderItServesFromAChildThatStopsWithIt) {
  SimProcess sim({}, true);
  const std::string slave = sim.Line();
  ASSERT_FALSE(slave.empty());
  {
    Host host(slave);
    ASSERT_EQ(host.link.ReopenFoundPort(), 1);
    EXPECT_EQ(host.link.Exchange(LinkCheck).ok, 1);
    host.link.ClosePort();
  }
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.OutputClosed(5000)) << "the serving child outlived the stop";
}

TEST(SimProcess, AStopDuringStartUpLeavesNoChildBehind) {
  for (const useconds_t delay : {0u, 100u, 300u, 1000u, 3000u, 10000u}) {
    SimProcess sim({}, true);
    usleep(delay);
    sim.Stop();
    EXPECT_TRUE(sim.OutputClosed(5000)) << "stopped after " << delay << " us";
  }
}

TEST(SimProcess, BadOptionExitsWithStatus2AndOneLine) {
  SimProcess sim({"--hangup-step", "dance"});
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_EQ(sim.Errors(), "brivelton-sim: --hangup-step: unknown step 'dance'\n");
}

}  // namespace
}  // namespace brivelton::testing
