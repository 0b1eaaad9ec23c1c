// SPDX-License-Identifier: MIT
// The POSIX backend against a real pseudo-terminal: the test holds the master
// side, the backend opens the slave as it would open a serial port.
#include "platform/posix/posix_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace brivelton {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr CommTimeouts kLinkTimeouts = {1, 1, 1, 3, 3};

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

std::vector<uint8_t> AllByteValues() {
  std::vector<uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { CloseMaster(); }
  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& slave() const { return slave_; }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t r = write(master_, bytes.data() + done, bytes.size() - done);
      if (r > 0) {
        done += size_t(r);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ASSERT_GE(poll(&p, 1, 1000), 1) << "master not writable";
      }
    }
  }

  // Up to `n` bytes, waiting at most `wait_ms` for each next chunk.
  std::vector<uint8_t> Receive(size_t n, int wait_ms = 1000) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[512];
    while (bytes.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, wait_ms) != 1 || !(p.revents & POLLIN)) break;
      const ssize_t r = read(master_, chunk, std::min(sizeof chunk, n - bytes.size()));
      if (r <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + r);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Runs `body` in a child process as another, unprivileged user (root would
// pass every exclusivity and permission check); returns its exit status.
template <typename Body>
int AsAnotherUser(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PosixSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
    OpenError error = OpenError::kOther;
    port = ports.Open(pty.slave(), &error);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(error, OpenError::kNone);
    ASSERT_TRUE(port->SetState({115200, 8, Parity::kNone, StopBits::kOne}));
    ASSERT_TRUE(port->SetTimeouts(kLinkTimeouts));
  }

  Pty pty;
  PosixSerialPorts ports;
  std::unique_ptr<SerialDevice> port;
};

TEST_F(PosixSerialTest, SilentReadReturnsAfterNPlusOneMilliseconds) {
  for (size_t n : {1u, 8u, 15u, 64u, 256u}) {
    std::vector<uint8_t> buffer(n);
    const double expected = double(n) + 1;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      size_t got = 99;
      const auto start = SteadyClock::now();
      ASSERT_TRUE(port->Read(buffer, got));
      const double elapsed = MsSince(start);
      EXPECT_EQ(got, 0u);
      EXPECT_GE(elapsed, expected) << "n = " << n;
      best = std::min(best, elapsed);
      std::printf("read of %zu bytes on a silent line: %.3f ms (n + 1 = %.0f)\n", n,
                  elapsed, expected);
    }
    // The best of three, so a busy machine cannot fail it.
    EXPECT_LT(best, expected + 40) << "n = " << n;
  }
}

TEST_F(PosixSerialTest, ReadReturnsEarlyOnceTheBytesAreIn) {
  ASSERT_TRUE(port->SetTimeouts({0, 0, 5000, 3, 3}));
  std::vector<uint8_t> buffer(8);
  size_t got = 0;
  pty.Send({1, 2, 3, 4, 5, 6, 7, 8, 9});
  auto start = SteadyClock::now();
  ASSERT_TRUE(port->Read(buffer, got));
  EXPECT_EQ(got, 8u);
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));

  // The rest arrives in two pieces while the read waits.
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send({10, 11, 12});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send({13, 14, 15, 16, 17});
  });
  start = SteadyClock::now();
  const bool ok = port->Read(buffer, got);
  const double elapsed = MsSince(start);
  sender.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{9, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_GE(elapsed, 35);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixSerialTest, IntervalTimeOutEndsTheReadAfterTheLastByte) {
  ASSERT_TRUE(port->SetTimeouts({1, 0, 5000, 3, 3}));
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send({0xA1, 0xA2, 0xA3});
  });
  std::vector<uint8_t> buffer(100);
  size_t got = 0;
  const auto start = SteadyClock::now();
  const bool ok = port->Read(buffer, got);
  const double elapsed = MsSince(start);
  sender.join();
  ASSERT_TRUE(ok);
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(buffer[0], 0xA1);
  EXPECT_EQ(buffer[2], 0xA3);
  EXPECT_GE(elapsed, 19);
  EXPECT_LT(elapsed, 1000);  // far from the 5 s total
}

TEST_F(PosixSerialTest, EveryByteValuePassesBothWaysAtBothSpeeds) {
  ASSERT_TRUE(port->SetTimeouts({50, 0, 2000, 3, 3}));
  const std::vector<uint8_t> all = AllByteValues();
  for (uint32_t baud : {115200u, 1000000u}) {
    SCOPED_TRACE(baud);
    ASSERT_TRUE(port->SetState({baud, 8, Parity::kNone, StopBits::kOne}));
    LineSettings state{};
    ASSERT_TRUE(port->GetState(state));
    EXPECT_EQ(state.baud, baud);
    EXPECT_EQ(state.data_bits, 8);
    EXPECT_EQ(state.parity, Parity::kNone);
    EXPECT_EQ(state.stop_bits, StopBits::kOne);

    size_t written = 0;
    ASSERT_TRUE(port->Write(all, written));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(pty.Receive(all.size()), all);

    pty.Send(all);
    std::vector<uint8_t> buffer(all.size());
    size_t got = 0;
    ASSERT_TRUE(port->Read(buffer, got));
    buffer.resize(got);
    EXPECT_EQ(buffer, all);
    // No echo, no inserted carriage returns, no flow-control bytes.
    EXPECT_TRUE(pty.Receive(1, 20).empty());
  }
  EXPECT_FALSE(port->SetState({12345, 8, Parity::kNone, StopBits::kOne}));
  LineSettings state{};
  ASSERT_TRUE(port->GetState(state));
  EXPECT_EQ(state.baud, 1000000u);
}

TEST_F(PosixSerialTest, PortIsExclusiveWhileHeldAndReopensAfterClose) {
  OpenError error = OpenError::kNone;
  EXPECT_EQ(ports.Open(pty.slave(), &error), nullptr);
  EXPECT_EQ(error, OpenError::kBusy);

  // Another program that takes no lock is kept out by the terminal itself.
  ASSERT_EQ(chmod(pty.slave().c_str(), 0666), 0);
  const std::string slave = pty.slave();
  auto other_open = [&slave] {
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
      close(fd);
      return 0;
    }
    return errno == EBUSY ? 1 : 2;
  };
  EXPECT_EQ(AsAnotherUser(other_open), 1);

  port.reset();
  EXPECT_EQ(AsAnotherUser(other_open), 0);
  port = ports.Open(pty.slave(), &error);
  EXPECT_NE(port, nullptr);
  EXPECT_EQ(error, OpenError::kNone);
}

TEST(PosixSerialOpen, FailuresSayWhy) {
  PosixSerialPorts ports;
  OpenError error = OpenError::kNone;
  EXPECT_EQ(ports.Open("/dev/no-such-serial-port", &error), nullptr);
  EXPECT_EQ(error, OpenError::kNotFound);

  char path[] = "/tmp/brivelton_not_a_tty_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(ports.Open(path, &error), nullptr);
  EXPECT_EQ(error, OpenError::kOther);
  unlink(path);
}

// Every port held must be released if the process ends on a signal; one the
// table can't take is refused rather than left exclusive, and its place
// comes back when a port is closed.
TEST(PosixSerialOpen, PortsPastTheHeldTableAreRefusedNotLost) {
  PosixSerialPorts ports;
  std::vector<std::unique_ptr<Pty>> ptys;
  std::vector<std::unique_ptr<SerialDevice>> held;
  OpenError error = OpenError::kNone;
  for (;;) {
    ptys.push_back(std::make_unique<Pty>());
    ASSERT_TRUE(ptys.back()->ok());
    auto device = ports.Open(ptys.back()->slave(), &error);
    if (!device) break;
    held.push_back(std::move(device));
    ASSERT_LE(held.size(), 64u) << "no bound on the ports held";
  }
  EXPECT_EQ(error, OpenError::kOther);
  EXPECT_GE(held.size(), 1u);
  // Refused without keeping it exclusive: another opener gets the line.
  const int fd = open(ptys.back()->slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0) << std::strerror(errno);
  if (fd >= 0) close(fd);
  held.pop_back();
  EXPECT_NE(ports.Open(ptys.back()->slave(), &error), nullptr);
}

TEST(PosixSerialOpen, ForbiddenPortSaysPermission) {
  // Only root can become a user to whom our own 0600 terminal is forbidden.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to open the port as another user";
  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_EQ(chmod(pty.slave().c_str(), 0600), 0);
  const std::string slave = pty.slave();
  const int status = AsAnotherUser([&slave] {
    OpenError why = OpenError::kNone;
    auto device = PosixSerialPorts().Open(slave, &why);
    return device ? 100 : int(why);
  });
  EXPECT_EQ(status, int(OpenError::kPermission));
}

TEST_F(PosixSerialTest, HangUpFailsReadAndWritePromptly) {
  ASSERT_TRUE(port->SetTimeouts({0, 0, 5000, 0, 5000}));
  EXPECT_TRUE(port->SetEventMask(kEventRxChar));
  // Hung up while a read waits.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pty.CloseMaster();
  });
  std::vector<uint8_t> buffer(16);
  size_t got = 0;
  auto start = SteadyClock::now();
  const bool ok = port->Read(buffer, got);
  const double elapsed = MsSince(start);
  closer.join();
  EXPECT_FALSE(ok);
  EXPECT_LT(elapsed, 1000);

  start = SteadyClock::now();
  EXPECT_FALSE(port->Read(buffer, got));
  size_t written = 0;
  EXPECT_FALSE(port->Write(AllByteValues(), written));
  EXPECT_FALSE(port->Flush());
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_FALSE(port->SetTimeouts(kLinkTimeouts));
  EXPECT_FALSE(port->SetEventMask(kEventRxChar));
  LineSettings state{};
  EXPECT_FALSE(port->GetState(state));
}

TEST_F(PosixSerialTest, WriteTimeOutBoundsAWriteNobodyTakes) {
  ASSERT_TRUE(port->SetTimeouts({1, 1, 1, 0, 100}));
  const std::vector<uint8_t> big(1 << 20, 0x55);
  size_t written = 0;
  const auto start = SteadyClock::now();
  ASSERT_TRUE(port->Write(big, written));
  const double elapsed = MsSince(start);
  EXPECT_LT(written, big.size());
  EXPECT_GE(elapsed, 100);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixSerialTest, PurgeDropsPendingInputAndFlushReturns) {
  pty.Send({1, 2, 3, 4, 5});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(port->Purge());
  std::vector<uint8_t> buffer(5);
  size_t got = 99;
  ASSERT_TRUE(port->Read(buffer, got));
  EXPECT_EQ(got, 0u);

  size_t written = 0;
  ASSERT_TRUE(port->Write(std::vector<uint8_t>{7, 8, 9}, written));
  const auto start = SteadyClock::now();
  EXPECT_TRUE(port->Flush());
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_EQ(pty.Receive(3), (std::vector<uint8_t>{7, 8, 9}));
}

}  // namespace
}  // namespace brivelton
