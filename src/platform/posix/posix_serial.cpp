// SPDX-License-Identifier: MIT
#include "platform/posix/posix_serial.h"

#include <atomic>

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/timeouts.h"

namespace brivelton {
namespace {

constexpr short kHangUp = POLLHUP | POLLERR | POLLNVAL;
// Longest a Flush waits beyond the write time-out of what is still queued.
constexpr uint64_t kDrainSlackMs = 100;

uint64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1'000'000u + uint64_t(ts.tv_nsec) / 1000u;
}

// Waits until `events` (or a hang-up) on `fd`, at most `wait_us` (kNoDeadline:
// no limit). Returns the events seen, 0 when the time ran out or a signal
// came first; callers look at the clock again either way.
short Poll(int fd, short events, uint64_t wait_us) {
  pollfd p{fd, events, 0};
#ifdef __linux__
  timespec ts{};
  ts.tv_sec = time_t(wait_us / 1'000'000u);
  ts.tv_nsec = long(wait_us % 1'000'000u) * 1000;
  const int r = ppoll(&p, 1, wait_us == kNoDeadline ? nullptr : &ts, nullptr);
#else
  const int ms = wait_us == kNoDeadline
                     ? -1
                     : int(std::min<uint64_t>((wait_us + 999) / 1000, 1u << 30));
  const int r = poll(&p, 1, ms);
#endif
  if (r > 0) return p.revents;
  if (r < 0 && errno != EINTR) return POLLERR;
  return 0;
}

struct BaudCode {
  uint32_t baud;
  speed_t code;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

bool SpeedCodeForBaud(uint32_t baud, speed_t& code) {
  for (const auto& entry : kBaudCodes) {
    if (entry.baud == baud) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

uint32_t BaudForSpeedCode(speed_t code) {
  for (const auto& entry : kBaudCodes)
    if (entry.code == code) return entry.baud;
  return 0;
}

namespace {

OpenError OpenErrorFor(int error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
      return OpenError::kBusy;
    case EACCES:
    case EPERM:
      return OpenError::kPermission;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return OpenError::kNotFound;
    default:
      return OpenError::kOther;
  }
}

// Every byte value passes both ways untouched: no echo, no signals, no
// newline or parity handling, no flow control, reads never block in the
// driver (the time-outs are ours).
bool MakeTransparent(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
#ifdef CRTSCTS
  tio.c_cflag &= ~tcflag_t(CRTSCTS);
#endif
  tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// The ports this process holds, for a process that must end at once (a
// signal) and still leave them reopenable by everyone. A fixed table, since a
// signal handler can't walk anything that grows; a port that finds it full is
// not opened, rather than left exclusive after such an end.
// A slot holds fd + 1, so that zero, its initial value, means empty.
constexpr int kHeldSlots = 16;
std::atomic<int> g_held[kHeldSlots];

bool Hold(int fd) {
  for (auto& slot : g_held) {
    int empty = 0;
    if (slot.compare_exchange_strong(empty, fd + 1)) return true;
  }
  return false;
}

void Unhold(int fd) {
  for (auto& slot : g_held) {
    int held = fd + 1;
    if (slot.compare_exchange_strong(held, 0)) return;
  }
}

// Another holder may keep the line open after us: leave it reopenable.
void Release(int fd) {
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  close(fd);
}

class PosixSerialDevice : public SerialDevice {
 public:
  // `fd` must be held already.
  explicit PosixSerialDevice(int fd) : fd_(fd) {}
  ~PosixSerialDevice() override {
    RestoreLatency();
    // Cleared first: a signal between the two steps still leaves it reopenable.
    ioctl(fd_, TIOCNXCL);
    Unhold(fd_);
    Release(fd_);
  }

  bool GetState(LineSettings& settings) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    settings.baud = BaudForSpeedCode(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
      case CS5: settings.data_bits = 5; break;
      case CS6: settings.data_bits = 6; break;
      case CS7: settings.data_bits = 7; break;
      default: settings.data_bits = 8; break;
    }
    settings.parity = Parity::kNone;
    if (tio.c_cflag & PARENB) {
      const bool odd = tio.c_cflag & PARODD;
      settings.parity = odd ? Parity::kOdd : Parity::kEven;
#ifdef CMSPAR
      if (tio.c_cflag & CMSPAR) settings.parity = odd ? Parity::kMark : Parity::kSpace;
#endif
    }
    settings.stop_bits = (tio.c_cflag & CSTOPB) ? StopBits::kTwo : StopBits::kOne;
    return true;
  }

  bool SetState(const LineSettings& settings) override {
    termios tio{};
    speed_t code = 0;
    if (!SpeedCodeForBaud(settings.baud, code) || tcgetattr(fd_, &tio) != 0)
      return false;
    if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0)
      return false;
    tcflag_t size = 0;
    switch (settings.data_bits) {
      case 5: size = CS5; break;
      case 6: size = CS6; break;
      case 7: size = CS7; break;
      case 8: size = CS8; break;
      default: return false;
    }
    tio.c_cflag = (tio.c_cflag & ~tcflag_t(CSIZE)) | size;
    tcflag_t parity_bits = PARENB | PARODD;
#ifdef CMSPAR
    parity_bits |= CMSPAR;
#endif
    tio.c_cflag &= ~parity_bits;
    switch (settings.parity) {
      case Parity::kNone: break;
      case Parity::kOdd: tio.c_cflag |= PARENB | PARODD; break;
      case Parity::kEven: tio.c_cflag |= PARENB; break;
#ifdef CMSPAR
      case Parity::kMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case Parity::kSpace: tio.c_cflag |= PARENB | CMSPAR; break;
#endif
      default: return false;
    }
    switch (settings.stop_bits) {
      case StopBits::kOne: tio.c_cflag &= ~tcflag_t(CSTOPB); break;
      case StopBits::kTwo: tio.c_cflag |= CSTOPB; break;
      default: return false;  // termios has no one and a half
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    // tcsetattr succeeds when any part applied; the speed is what matters.
    termios now{};
    return tcgetattr(fd_, &now) == 0 && cfgetospeed(&now) == code &&
           (now.c_cflag & CSIZE) == size;
  }

  bool SetTimeouts(const CommTimeouts& timeouts) override {
    if (!Alive()) return false;
    timeouts_ = timeouts;
    return true;
  }

  // Reads never wait for events, so there is nothing to arm.
  bool SetEventMask(uint32_t) override { return Alive(); }

  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    got = 0;
    ReadWindow window(timeouts_, buffer.size(), NowUs());
    // What the last poll promised; a hang-up holds until the read fails.
    enum class Promised { kNothing, kData, kHangUp } promised = Promised::kNothing;
    while (got < buffer.size()) {
      const ssize_t r = read(fd_, buffer.data() + got, buffer.size() - got);
      if (r > 0) {
        got += size_t(r);
        window.Arrived(NowUs());
        if (promised == Promised::kData) promised = Promised::kNothing;
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      // With VMIN = VTIME = 0 an empty line reads as 0 bytes, so only a read
      // that finds nothing after poll promised data means the line is gone.
      if (promised != Promised::kNothing) return false;
      const uint64_t left = window.LeftUs(NowUs());
      if (left == 0) break;
      const short events = Poll(fd_, POLLIN, left);
      // Take what is still queued, then fail.
      if (events & kHangUp) promised = Promised::kHangUp;
      else if (events & POLLIN) promised = Promised::kData;
    }
    return true;
  }

  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    written = 0;
    const CommTimeouts& t = timeouts_;
    const uint64_t deadline = TotalDeadlineUs(NowUs(), t.write_total_multiplier_ms, bytes.size(),
                                              t.write_total_constant_ms);
    while (written < bytes.size()) {
      const ssize_t r = write(fd_, bytes.data() + written, bytes.size() - written);
      if (r > 0) {
        written += size_t(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      // A tty with no room says EAGAIN; accepting nothing otherwise is an error.
      if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
      const uint64_t left = UsLeft(deadline, NowUs());
      if (left == 0) break;
      if (Poll(fd_, POLLOUT, left) & kHangUp) return false;
    }
    return true;
  }

  bool Purge() override { return tcflush(fd_, TCIOFLUSH) == 0; }

  // A USB-serial driver (ftdi_sio) then lowers its bridge's latency timer to
  // 1 ms. A pseudo-terminal or a port without the setting refuses: ignored.
  LowLatency RequestLowLatency() override {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (ioctl(fd_, TIOCGSERIAL, &serial) != 0) return {};
    if (serial.flags & ASYNC_LOW_LATENCY) return {.granted = true};
    const int old_flags = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd_, TIOCSSERIAL, &serial) != 0) return {};
    if (!old_latency_flags_) old_latency_flags_ = old_flags;
    return {.granted = true};
#else
    return {};
#endif
  }

  // Waits for the output to leave, but never for ever: a device that stopped
  // taking bytes must not hang the close that follows.
  bool Flush() override {
#ifdef TIOCOUTQ
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    const uint64_t deadline =
        DeadlineUs(NowUs(), timeouts_.write_total_multiplier_ms,
                   size_t(std::max(queued, 0)),
                   timeouts_.write_total_constant_ms) +
        kDrainSlackMs * 1000;
    while (queued > 0) {
      if (NowUs() >= deadline) return false;
      if (Poll(fd_, 0, 1000) & kHangUp) return false;
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    }
#endif
    // Only the last character or so can still be on its way now.
    return tcdrain(fd_) == 0;
  }

 private:
  bool Alive() { return !(Poll(fd_, 0, 0) & kHangUp); }

  // The port as it was before our request: other programs get it back so.
  void RestoreLatency() {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (!old_latency_flags_ || ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
    serial.flags = (serial.flags & ~ASYNC_LOW_LATENCY) | (*old_latency_flags_ & ASYNC_LOW_LATENCY);
    ioctl(fd_, TIOCSSERIAL, &serial);
#endif
  }

  int fd_;
  // The flags before the first request that changed them.
  std::optional<int> old_latency_flags_;
  CommTimeouts timeouts_;
};

}  // namespace

void ReleaseHeldPorts() {
  for (auto& slot : g_held) {
    const int held = slot.exchange(0);
    if (held > 0) Release(held - 1);
  }
}

std::unique_ptr<SerialDevice> PosixSerialPorts::Open(const std::string& name,
                                                     OpenError* error) {
  OpenError result = OpenError::kNone;
  int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    result = OpenErrorFor(errno);
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result = errno == EWOULDBLOCK ? OpenError::kBusy : OpenError::kOther;
  } else if (ioctl(fd, TIOCEXCL) != 0) {
    result = OpenError::kOther;  // not a terminal, so not a serial port
  } else if (!MakeTransparent(fd) || !Hold(fd)) {
    ioctl(fd, TIOCNXCL);
    result = OpenError::kOther;
  }
  if (result != OpenError::kNone && fd >= 0) {
    close(fd);
    fd = -1;
  }
  if (error) *error = result;
  if (fd < 0) return nullptr;
  return std::make_unique<PosixSerialDevice>(fd);
}

// The device's group, when it may read and write the device and this
// process is not in it (a user added to it must log in again to be).
std::string PosixSerialPorts::GroupToJoin(const std::string& name) {
  struct stat st{};
  if (stat(name.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) ||
      st.st_gid == 0)
    return {};
  std::vector<gid_t> groups(size_t(std::max(getgroups(0, nullptr), 0)) + 1);
  const int count = getgroups(int(groups.size()), groups.data());
  groups.resize(size_t(std::max(count, 0)));
  groups.push_back(getegid());
  if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) return {};
  const group* entry = getgrgid(st.st_gid);
  return entry && entry->gr_name ? entry->gr_name : std::string();
}

}  // namespace brivelton
