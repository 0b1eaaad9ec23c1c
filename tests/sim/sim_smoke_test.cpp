// brivelton-sim as a process: its pseudo-terminal opened through the POSIX
// backend, in real time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/link.h"
#include "platform/posix_serial.h"
#include "support/recording_view.h"

extern char** environ;

namespace brivelton::testing {
namespace {

std::string SimPath() {
  if (const char* dir = std::getenv("BRIVELTON_BUILD_DIR")) {
    const std::string path = std::string(dir) + "/src/sim/brivelton-sim";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return BRIVELTON_SIM_PATH;
}

// Reads one line from `fd` within `timeout_ms`.
std::string ReadLine(int fd, int timeout_ms) {
  std::string line;
  char c = 0;
  while (true) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) break;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

class SimProcess {
 public:
  // A group leader, as a shell starts it, cannot make a session of its own
  // and serves from a child.
  explicit SimProcess(const std::vector<std::string>& args, bool group_leader = false) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> all = {SimPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (group_leader) {
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
      posix_spawnattr_setpgroup(&attributes, 0);
    }
    if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (pid_ > 0) Stop();
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  std::string Line(int timeout_ms = 5000) { return ReadLine(out_, timeout_ms); }
  // SIGTERM; the exit status, or -1 when it did not exit normally.
  int Stop() { return Wait(SIGTERM); }
  int Wait(int signal = 0) {
    if (pid_ <= 0) return -1;
    if (signal) kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Errors() { return ReadAll(err_); }
  // Whether everything that holds its output has gone within `timeout_ms`.
  bool OutputClosed(int timeout_ms) {
    char buffer[256];
    while (true) {
      pollfd pfd{out_, POLLIN, 0};
      if (poll(&pfd, 1, timeout_ms) <= 0) return false;
      if (read(out_, buffer, sizeof buffer) <= 0) return true;
    }
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// The link over the real POSIX backend, in real time.
struct Host {
  explicit Host(const std::string& port) { link.state().PortName = port; }
  PosixSerialPorts ports;
  SystemClock clock;
  RecordingView view;
  MessageLog log{view.sink()};
  Link link{ports, clock, log};
};

std::string ReplyText(const LinkState& link, int count) {
  return std::string(reinterpret_cast<const char*>(link.ReplyBuffer.data()),
                     static_cast<size_t>(count));
}

TEST(SimProcess, ServesLinkCheckAndVersionOnItsTerminal) {
  char dir_template[] = "/tmp/brivelton-sim-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
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
    ASSERT_EQ(host.link.Exchange(LinkCheck), 1);
    EXPECT_EQ(host.link.state().ReceivedCount, 8);
    EXPECT_EQ(host.link.state().ReplyBuffer[0], 0x04);
    ASSERT_EQ(host.link.Exchange(QueryVersion), 1);
    ASSERT_EQ(host.link.state().ReceivedCount, 33);
    EXPECT_NE(ReplyText(host.link.state(), 33).find("BN Version = 1FE"), std::string::npos);

    // The host lets go of the port and takes it again.
    host.link.ClosePort();
    ASSERT_EQ(host.link.ReopenFoundPort(), 1);
    host.link.state().ParamOp = 1;
    host.link.state().ParamValue = 0;
    ASSERT_EQ(host.link.Exchange(ParamWrite), 1);
    EXPECT_EQ(host.link.state().ReceivedCount, 10);
    // At the wrong speed nothing is understood.
    host.link.ConfigurePort(1000000);
    EXPECT_EQ(host.link.Exchange(LinkCheck), 0);
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

TEST(SimProcess, UnpluggedTerminalComesBackUnderTheLink) {
  const std::string link = ::testing::TempDir() + "sim_smoke_unplug_link";
  SimProcess sim({"--hangup-after-bytes", "8", "--link", link});
  const std::string first = sim.Line();
  ASSERT_FALSE(first.empty());
  Host host(link);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  ASSERT_EQ(host.link.Exchange(LinkCheck), 1);
  EXPECT_EQ(host.link.Exchange(LinkCheck), 0);
  host.link.ClosePort();
  // Back after a while, possibly under another name: the link follows it.
  const std::string second = sim.Line(3000);
  ASSERT_FALSE(second.empty());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(second, target);
  ASSERT_EQ(host.link.ReopenFoundPort(), 1);
  EXPECT_EQ(host.link.Exchange(LinkCheck), 1);
  EXPECT_EQ(host.link.state().ReceivedCount, 8);
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
    EXPECT_EQ(host.link.Exchange(LinkCheck), 1);
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
  const std::string errors = sim.Errors();
  EXPECT_EQ(errors, "brivelton-sim: --hangup-step: unknown step 'dance'\n");
}

}  // namespace
}  // namespace brivelton::testing
