// SPDX-License-Identifier: MIT
#pragma once
// Serves a DeviceModel in real time on a pseudo-terminal: the host opens the
// slave side as if it were the adapter's serial port.
#include <csignal>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <signal.h>

#include "platform/result.h"
#include "sim/device_model.h"

namespace brivelton::sim {

struct ServeOptions {
  std::string link;  // stable symlink to the slave; empty for none
  bool verbose = false;
  bool busy = false;  // the port is held by another program
  double wire_scale = 1.0;  // multiplies the time each byte from the host takes
};

class PtyServer {
 public:
  PtyServer(DeviceModel& model, ServeOptions options);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Opens the terminal and announces its path on stdout.
  Result<void> Start();
  // Serves until `stop` is set; signals are taken only while waiting, with
  // `wait_mask` as the signal mask.
  void Run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask);
  const std::string& slave_path() const { return slave_path_; }

 private:
  Result<void> OpenTerminal();
  void CloseTerminal();
  // An error when the path holds something else than a link to a terminal.
  Result<void> UpdateLink();
  void RemoveLink();
  uint64_t NowUs() const;
  uint32_t HostBaud() const;
  bool ReadHost();  // whether it read anything
  void WriteDue(uint64_t now_us);
  void ReportFrames();
  void Unplug(uint64_t t_us);
  void WatchHost();
  void CheckHolder();

  DeviceModel& model_;
  ServeOptions options_;
  int master_ = -1;
  int slave_ = -1;  // held only to keep the port busy
  // Opens and closes of the slave by others: what arrives while nobody holds
  // the port is lost, as on a real one.
  int watch_ = -1;
  bool host_holds_ = false;
  std::string slave_path_;
  uint64_t start_ns_ = 0;
  uint64_t last_arrival_us_ = 0;
  std::deque<SentByte> out_;
  std::vector<uint8_t> unsent_;  // garbled bytes the terminal did not take yet
  uint64_t unsent_since_us_ = 0;
  uint32_t garble_counter_ = 0;
  bool unplugged_ = false;
  uint64_t replug_us_ = 0;
};

}  // namespace brivelton::sim
