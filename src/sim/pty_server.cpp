// SPDX-License-Identifier: MIT
#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "link/frames.h"
#include "platform/posix/posix_serial.h"
#include "sim/virtual_serial.h"

namespace brivelton::sim {

namespace {

// Bytes the host's terminal did not take for this long are lost, as when
// nobody reads a real port.
constexpr uint64_t kOverrunUs = 1'000'000;

std::string Hex(std::span<const uint8_t> bytes, size_t max) {
  std::string text;
  char cell[4];
  for (size_t i = 0; i < bytes.size() && i < max; ++i) {
    std::snprintf(cell, sizeof cell, "%s%02X", i ? " " : "", bytes[i]);
    text += cell;
  }
  if (bytes.size() > max) text += " ...";
  return text;
}

}  // namespace

PtyServer::PtyServer(DeviceModel& model, ServeOptions options)
    : model_(model), options_(std::move(options)) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  start_ns_ = static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

PtyServer::~PtyServer() {
  CloseTerminal();
  RemoveLink();
}

uint64_t PtyServer::NowUs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ns =
      static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
  return (ns - start_ns_) / 1000;
}

uint32_t PtyServer::HostBaud() const {
  // On the master this reads the slave's settings: the speed the host chose.
  termios tio{};
  if (master_ < 0 || tcgetattr(master_, &tio) != 0) return 0;
  return BaudForSpeedCode(cfgetospeed(&tio));
}

bool PtyServer::OpenTerminal(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
    error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slave_path_ = name;
  // Raw before anyone else opens it; the settings stay with the terminal.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = "cannot open " + slave_path_ + ": " + std::strerror(errno);
    return false;
  }
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) {
    error = "cannot read the settings of " + slave_path_ + ": " + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&tio, B115200);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
    error = "cannot make " + slave_path_ + " raw: " + std::strerror(errno);
    return false;
  }
  // Our controlling terminal cannot become anybody else's.
  if (ioctl(slave_, TIOCSCTTY, 0) != 0 && options_.verbose)
    std::fprintf(stderr, "sim: %s is not our controlling terminal: %s\n", name,
                 std::strerror(errno));
  // Held as a program holds a port: the exclusive line turns others away, the
  // lock also root, whom the line lets through.
  if (options_.busy &&
      (ioctl(slave_, TIOCEXCL) != 0 || flock(slave_, LOCK_EX | LOCK_NB) != 0)) {
    error = "cannot make " + slave_path_ + " busy: " + std::strerror(errno);
    return false;
  }
  // Unless we hold it for the lock, let go: the master then reads as hung up
  // exactly while no host holds the slave.
  if (!options_.busy) {
    close(slave_);
    slave_ = -1;
  }
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ < 0 || inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
    error = "cannot watch " + slave_path_ + ": " + std::strerror(errno);
    return false;
  }
  // The link first: whoever reads the path may go straight for the link.
  if (!UpdateLink(error)) return false;
  std::printf("%s\n", name);
  std::fflush(stdout);
  return true;
}

void PtyServer::CloseTerminal() {
  if (watch_ >= 0) close(watch_);
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  watch_ = slave_ = master_ = -1;
  host_holds_ = false;
}

void PtyServer::WatchHost() {
  // The events only say that something changed: like events in a row merge
  // into one, so opens and closes cannot be counted from them.
  alignas(inotify_event) char buffer[4096];
  while (read(watch_, buffer, sizeof buffer) > 0) {
  }
  CheckHolder();
}

void PtyServer::CheckHolder() {
  bool holds = false;
  if (slave_ < 0 && master_ >= 0) {
    pollfd pfd{master_, 0, 0};
    holds = poll(&pfd, 1, 0) == 0;  // no POLLHUP
  }
  // What a host wrote before it let go was on the line all the same.
  if (!holds || !host_holds_)
    while (ReadHost()) {
    }
  if (master_ < 0 || holds == host_holds_) return;  // unplugged by what it read, or no change
  host_holds_ = holds;
  if (holds) return;
  // Whatever the last holder left unread goes with it.
  unsent_.clear();
  const int fd = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    tcflush(fd, TCIFLUSH);
    close(fd);
  }
}

bool PtyServer::UpdateLink(std::string& error) {
  if (options_.link.empty()) return true;
  // Only a link to a terminal, as this simulator leaves it, is replaced:
  // anything else at the path is somebody's file.
  struct stat st {};
  if (lstat(options_.link.c_str(), &st) == 0) {
    char target[256];
    const ssize_t n = S_ISLNK(st.st_mode)
                          ? readlink(options_.link.c_str(), target, sizeof target - 1)
                          : -1;
    if (n >= 0) target[n] = '\0';
    if (n < 0 || !(std::string_view(target).starts_with("/dev/pts/") || slave_path_ == target)) {
      error = "refusing to replace " + options_.link +
              ": it is not a link to a terminal (--link makes one)";
      return false;
    }
  }
  // Replace atomically: a host opening the link never finds it missing.
  const std::string temp = options_.link + ".new" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(slave_path_.c_str(), temp.c_str()) != 0 ||
      rename(temp.c_str(), options_.link.c_str()) != 0) {
    std::fprintf(stderr, "sim: cannot link %s: %s\n", options_.link.c_str(),
                 std::strerror(errno));
    unlink(temp.c_str());
  }
  return true;
}

void PtyServer::RemoveLink() {
  if (options_.link.empty()) return;
  char target[256];
  const ssize_t n = readlink(options_.link.c_str(), target, sizeof target - 1);
  if (n < 0) return;
  target[n] = '\0';
  if (slave_path_ == target) unlink(options_.link.c_str());
}

bool PtyServer::Start(std::string& error) {
  if (!OpenTerminal(error)) {
    CloseTerminal();
    return false;
  }
  return true;
}

void PtyServer::ReportFrames() {
  if (options_.verbose) {
    for (const FrameRecord& f : model_.frames())
      std::fprintf(stderr, "sim: %10.6f %s (%zu bytes at %u): %s\n",
                   static_cast<double>(f.t_us) / 1e6, KindName(f.kind), f.bytes.size(), f.baud,
                   Hex(f.bytes, 16).c_str());
  }
  model_.ForgetFrames();
}

void PtyServer::Unplug(uint64_t t_us) {
  if (options_.verbose)
    std::fprintf(stderr, "sim: %10.6f unplugged\n", static_cast<double>(t_us) / 1e6);
  CloseTerminal();
  out_.clear();
  unsent_.clear();
  unplugged_ = true;
  replug_us_ = std::max(t_us, NowUs()) + kReplugDelayUs;
}

bool PtyServer::ReadHost() {
  uint8_t buffer[8192];
  const ssize_t n = master_ >= 0 ? read(master_, buffer, sizeof buffer) : -1;
  if (n <= 0) return false;  // EIO once the host is gone and its bytes are read
  const uint64_t now = NowUs();
  const uint32_t baud = HostBaud();
  // The line carries no more than its speed allows, however fast the
  // terminal hands the bytes over.
  const double byte_us = static_cast<double>(WireTimeUs(1, baud)) * options_.wire_scale;
  const uint64_t start = std::max(now, last_arrival_us_);
  std::vector<uint64_t> arrival(static_cast<size_t>(n));
  for (size_t i = 0; i < arrival.size(); ++i)
    arrival[i] = start + static_cast<uint64_t>(std::llround(static_cast<double>(i + 1) * byte_us));
  last_arrival_us_ = arrival.back();
  model_.Receive(std::span(buffer, static_cast<size_t>(n)), arrival, baud);
  for (const SentByte& b : model_.TakeOutput()) out_.push_back(b);
  ReportFrames();
  if (auto pulled = model_.TakeHangup()) Unplug(*pulled);
  return true;
}

void PtyServer::WriteDue(uint64_t now_us) {
  if (master_ < 0) return;
  if (!out_.empty() && out_.front().t_us <= now_us) {
    const uint32_t host_baud = HostBaud();
    if (unsent_.empty()) unsent_since_us_ = now_us;
    while (!out_.empty() && out_.front().t_us <= now_us) {
      const SentByte b = out_.front();
      out_.pop_front();
      if (!host_holds_) continue;  // nobody there to hear it
      for (uint8_t value : Garble(b.value, b.baud, host_baud, garble_counter_))
        unsent_.push_back(value);
    }
  }
  if (unsent_.empty()) return;
  const ssize_t n = write(master_, unsent_.data(), unsent_.size());
  if (n > 0) {
    unsent_.erase(unsent_.begin(), unsent_.begin() + n);
    unsent_since_us_ = now_us;
  }
  if (!unsent_.empty() && now_us > unsent_since_us_ + kOverrunUs) unsent_.clear();
}

void PtyServer::Run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask) {
  while (!stop) {
    const uint64_t now = NowUs();
    if (unplugged_ && now >= replug_us_) {
      std::string error;
      if (!OpenTerminal(error)) {
        std::fprintf(stderr, "sim: %s\n", error.c_str());
        CloseTerminal();
        return;
      }
      unplugged_ = false;
      model_.PowerOn(replug_us_);
      last_arrival_us_ = now;
    }
    WriteDue(now);
    uint64_t wake = UINT64_MAX;
    if (!out_.empty()) wake = out_.front().t_us;
    if (unplugged_) wake = std::min(wake, replug_us_);
    if (!unsent_.empty()) wake = std::min(wake, now + 1000);
    timespec timeout{};
    timespec* timeout_ptr = nullptr;
    if (wake != UINT64_MAX) {
      const uint64_t wait = wake > now ? wake - now : 0;
      timeout.tv_sec = static_cast<time_t>(wait / 1'000'000);
      timeout.tv_nsec = static_cast<long>(wait % 1'000'000) * 1000;
      timeout_ptr = &timeout;
    }
    // The master only while a host holds the slave: without one it is hung
    // up, and the watch tells when one comes.
    pollfd pfd[2] = {{watch_, POLLIN, 0}, {host_holds_ ? master_ : -1, POLLIN, 0}};
    if (!unsent_.empty()) pfd[1].events |= POLLOUT;
    const int ready = ppoll(pfd, master_ >= 0 ? 2 : 0, timeout_ptr, &wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "sim: poll: %s\n", std::strerror(errno));
      return;
    }
    if (ready <= 0) continue;
    if (pfd[1].revents & POLLIN) ReadHost();
    if (pfd[0].revents & POLLIN) {
      WatchHost();
    } else if (pfd[1].revents & (POLLHUP | POLLERR) && !(pfd[1].revents & POLLIN)) {
      CheckHolder();  // hung up and read to the end: the last host has let go
    }
  }
}

}  // namespace brivelton::sim
