// SPDX-License-Identifier: MIT
#pragma once
// The adapter's side of a conversation read from fuzz input: every write of
// the host is answered with the next slice of the input. A slice is a control
// byte c and what it names:
//   00-3F  the reply is the next c bytes;
//   40-7F  the next (c - 0x40) bytes, then one signed byte e: the reply is
//          padded with FF to the length the kind expects plus e;
//   80-BF  the next (c - 0x80) bytes, then one byte d: they come d * 5 ms late;
//   C0-FF  no reply.
// Once the input is used up the adapter is silent, for every kind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/main_view.h"
#include "link/frames.h"
#include "platform/clock.h"
#include "platform/port_list.h"
#include "sim/virtual_serial.h"

namespace brivelton::fuzz {

// A property of the code under test did not hold: let libFuzzer keep the input.
#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                    \
      std::abort();                                                           \
    }                                                                         \
  } while (0)

inline constexpr uint8_t kPadSlice = 0x40;
inline constexpr uint8_t kLateSlice = 0x80;
inline constexpr uint8_t kNoReply = 0xC0;
inline constexpr uint64_t kLatencyUs = 100;

class ReplyStream : public VirtualPeer {
 public:
  // `link` tells which kind each write was (SendFrame records it first),
  // `facts` the address an identity page read back should carry.
  ReplyStream(std::span<const uint8_t> input, const LinkState& link, const AdapterFacts& facts)
      : input_(input), link_(link), facts_(facts) {}

  // Which kinds take their reply from the input; the others get a reply of the
  // expected length at once (while input is left), so the input is spent on
  // the kinds under test.
  void set_fuzzed(std::function<bool(CommandKind kind)> fuzzed) { fuzzed_ = std::move(fuzzed); }

  void OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                   std::span<const uint64_t> arrival_us, uint32_t baud) override;

  bool used_up() const { return pos_ >= input_.size(); }
  // The reply sent to the last write of `kind` (empty if none, or silence).
  const std::vector<uint8_t>& last_reply(CommandKind kind) const {
    return last_[KindNumber(kind) & 31];
  }
  int writes(CommandKind kind) const { return writes_[KindNumber(kind) & 31]; }
  // Whether `match` holds for some run of `n` bytes in everything sent so
  // far: whatever the host read of one reply is such a run.
  bool AnySent(size_t n, const std::function<bool(std::span<const uint8_t>)>& match) const {
    for (size_t p = 0; p + n <= sent_.size(); ++p)
      if (match(std::span(sent_).subspan(p, n))) return true;
    return false;
  }

 private:
  uint8_t Next() { return pos_ < input_.size() ? input_[pos_++] : 0; }
  std::vector<uint8_t> Take(size_t n);

  std::span<const uint8_t> input_;
  size_t pos_ = 0;
  const LinkState& link_;
  const AdapterFacts& facts_;
  std::function<bool(CommandKind)> fuzzed_;
  std::vector<uint8_t> last_[32];
  std::vector<uint8_t> sent_;
  int writes_[32] = {};
};

// A window that keeps the log and answers the dialogs as told.
class FuzzView : public MainView {
 public:
  void ShowButton(int, bool) override {}
  void AppendLog(const std::string& line) override { log.push_back(line); }
  bool ConfirmUpdate() override { return true; }
  void ShowUpdateResult(bool success) override { results.push_back(success); }
  std::string HowToGiveAddress(const std::string& address) override {
    return "give " + address;
  }
  bool EditSettings(SettingsValues& values) override {
    return edit ? edit(values) : false;
  }
  bool Logged(const std::string& line) const {
    for (const auto& l : log)
      if (l == line) return true;
    return false;
  }

  std::vector<std::string> log;
  std::vector<bool> results;
  std::function<bool(SettingsValues&)> edit;
};

// One adapter port "COM3" answered from the input, optionally behind a silent
// "COM1", and the main window logic over them on virtual time.
struct Rig {
  Rig(std::span<const uint8_t> input, bool silent_port_first)
      : list(silent_port_first ? std::vector<std::string>{"COM1", "COM3"}
                               : std::vector<std::string>{"COM3"}),
        stream(input, stack.link.state(), stack.facts) {
    if (silent_port_first) ports.AddPort("COM1", nullptr);
    ports.AddPort("COM3", &stream);
    stack.link.state().PortName = "COM3";
  }
  ~Rig() { stack.link.ClosePort(); }

  VirtualClock clock;
  VirtualSerialPorts ports{clock};
  FixedPortList list;
  Platform platform{ports, clock, list};
  FuzzView view;
  ProtocolStack stack{platform, [this](const std::string& line) { view.AppendLog(line); }};
  MainDialog dialog{view, stack};
  ReplyStream stream;
};

}  // namespace brivelton::fuzz
