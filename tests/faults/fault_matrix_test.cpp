// SPDX-License-Identifier: MIT
// Check Device, Update Firmware and Setting against the simulated adapter
// under every fault it can put on, on virtual time with fixed seeds. Whatever
// the fault, every run must end in bounded time, claim success only for what
// the adapter really holds, keep the adapter's Bluetooth address, stop
// parameter writes at the first failure, and leak no port.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/host_bench.h"
#include "log/message_log.h"
#include "link/frames.h"
#include "params/settings_mapping.h"
#include "sim/device_model.h"
#include "sim/virtual_adapter.h"
#include "support/counting_clock.h"
#include "support/run_bounds.h"
#include "support/recording_view.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton {
namespace {

using enum CommandKind;

using sim::AdapterConfig;
using sim::UpdateStep;
using testing::RecordingView;

enum class Op { kCheck, kUpdate, kSettings };
enum class Want { kAny, kOk, kFail };

struct FaultRow {
  std::string name;
  std::function<void(AdapterConfig&)> set;
  Want check = Want::kAny;
  Want update = Want::kAny;
  Want settings = Want::kAny;
  // The bytes arrive as sent: what the utility read is what the adapter said.
  bool exact = true;
};

// ---- The table of faults --------------------------------------------------

std::string StepLabel(UpdateStep step) {
  switch (step) {
    case UpdateStep::kNone: return "none";
    case UpdateStep::kLinkCheck: return "LinkCheck";
    case UpdateStep::kHandshake: return "Handshake";
    case UpdateStep::kSetBaud: return "SetBaud";
    case UpdateStep::kIdentityRead: return "IdentityRead";
    case UpdateStep::kUnlock: return "Unlock";
    case UpdateStep::kErase: return "Erase";
    case UpdateStep::kPageWrite: return "PageWrite";
    case UpdateStep::kIdentityWrite: return "IdentityWrite";
    case UpdateStep::kChecksum: return "Checksum";
    case UpdateStep::kRestart: return "Restart";
  }
  return "step";
}

std::vector<FaultRow> Rows() {
  using W = Want;
  std::vector<FaultRow> rows;
  rows.push_back({"none", [](AdapterConfig&) {}, W::kOk, W::kOk, W::kOk});
  rows.push_back({"silent", [](AdapterConfig& c) { c.faults.silent = true; },
                  W::kFail, W::kFail, W::kFail});
  rows.push_back({"busy", [](AdapterConfig& c) { c.faults.busy = true; },
                  W::kFail, W::kFail, W::kFail});
  rows.push_back({"burst_boot_entry", [](AdapterConfig& c) { c.boot_entry = sim::BootEntry::kBursts; },
                  W::kOk, W::kOk, W::kOk});
  rows.push_back({"blank_identity", [](AdapterConfig& c) { c.blank_identity = true; },
                  W::kOk, W::kOk, W::kOk});

  // No answer to one kind, N times. Once is absorbed by the exchange's own
  // retry; twice fails that exchange, and for most kinds the update's next
  // attempt goes through; forty times outlasts every retry.
  struct Withheld {
    CommandKind kind;
    Want update_x2;  // check and settings: any
    Want check_x40, update_x40, settings_x40;
  };
  constexpr W A = W::kAny, O = W::kOk, F = W::kFail;
  const Withheld withheld[] = {
      {LinkCheck, A, F, A, A},       {BootHandshake, O, A, A, A},
      {SetBaud1M, O, A, F, A},       {ResetStepA, A, A, A, A},
      {FlashReadPage, O, A, F, A},   {FlashReadStatus, O, A, F, A},
      {FlashWriteStatus, O, A, F, A}, {FlashErase, O, A, F, A},
      {FlashWritePage, O, A, F, A},  {WriteIdentityPage, O, A, F, A},
      {FlashChecksum, O, A, F, A},   {QueryVersion, O, A, A, A},
      {ParamRead, A, A, A, A},       {ParamWrite, A, A, A, F},
  };
  for (const Withheld& w : withheld) {
    for (int n : {1, 2, 40}) {
      FaultRow row{"ignore_" + std::string(KindName(w.kind)) + "_x" + std::to_string(n),
                   [kind = w.kind, n](AdapterConfig& c) { c.faults.ignore_kind[kind] = n; }};
      if (n == 1) row.check = row.update = row.settings = O;
      if (n == 2) row.update = w.update_x2;
      if (n == 40) {
        row.check = w.check_x40;
        row.update = w.update_x40;
        row.settings = w.settings_x40;
      }
      rows.push_back(row);
    }
  }

  // Short replies: half the reply, or just the three bytes an event starts with.
  const CommandKind cut_kinds[] = {LinkCheck, SetBaud1M, FlashReadPage, FlashErase, FlashWritePage,
                           FlashChecksum, QueryVersion, ParamRead, ParamWrite};
  for (CommandKind kind : cut_kinds) {
    for (int bytes : {-1, 3}) {
      for (int n : {1, 40}) {
        rows.push_back({"short_" + std::string(KindName(kind)) + (bytes < 0 ? "_half" : "_3") +
                            "_x" + std::to_string(n),
                        [kind, bytes, n](AdapterConfig& c) {
                          c.faults.short_reply_kind[kind] = n;
                          c.faults.short_reply_bytes = bytes;
                        }});
      }
    }
  }

  for (int extra : {1, 5, 40})
    rows.push_back({"extra_bytes_" + std::to_string(extra),
                    [extra](AdapterConfig& c) { c.faults.extra_bytes = extra; }});

  // Lost and damaged bytes, both ways.
  for (uint32_t seed : {1u, 2u, 3u}) {
    for (double rate : {0.001, 0.01}) {
      const std::string tail = (rate < 0.005 ? "_0p1pct_seed" : "_1pct_seed") + std::to_string(seed);
      FaultRow drop{"drop" + tail, [rate, seed](AdapterConfig& c) {
                      c.faults.drop_rate = rate;
                      c.faults.seed = seed;
                    }};
      drop.exact = false;
      rows.push_back(drop);
      FaultRow flip{"flip" + tail, [rate, seed](AdapterConfig& c) {
                      c.faults.flip_rate = rate;
                      c.faults.seed = seed;
                    }};
      flip.exact = false;
      rows.push_back(flip);
    }
  }

  // Unplugged at each step of the update: once (the next attempt must get
  // through), and at every attempt.
  struct At {
    UpdateStep step;
    int index;
  };
  const At steps[] = {{UpdateStep::kLinkCheck, 0},     {UpdateStep::kHandshake, 0},
                      {UpdateStep::kSetBaud, 0},       {UpdateStep::kIdentityRead, 0},
                      {UpdateStep::kUnlock, 0},        {UpdateStep::kErase, 0},
                      {UpdateStep::kErase, 7},         {UpdateStep::kErase, 29},
                      {UpdateStep::kPageWrite, 1},     {UpdateStep::kPageWrite, 124},
                      {UpdateStep::kPageWrite, 0},     {UpdateStep::kIdentityWrite, 0},
                      {UpdateStep::kChecksum, 0},      {UpdateStep::kRestart, 0}};
  for (const At& at : steps) {
    for (int count : {1, 25}) {
      FaultRow row{"hangup_" + StepLabel(at.step) + "_" + std::to_string(at.index) +
                       (count == 1 ? "_once" : "_always"),
                   [at, count](AdapterConfig& c) {
                     c.faults.hangup_step = at.step;
                     c.faults.hangup_index = at.index;
                     c.faults.hangup_count = count;
                   }};
      if (count == 1 || at.step == UpdateStep::kRestart) row.update = W::kOk;
      if (count == 25 && at.step != UpdateStep::kRestart && at.step != UpdateStep::kLinkCheck)
        row.update = W::kFail;
      rows.push_back(row);
    }
  }
  for (int64_t after : {int64_t{1}, int64_t{40}, int64_t{300000}}) {
    rows.push_back({"hangup_after_" + std::to_string(after) + "_bytes",
                    [after](AdapterConfig& c) {
                      c.faults.hangup_after_bytes = after;
                      c.faults.hangup_count = 1;
                    }});
  }

  rows.push_back({"wrong_checksum", [](AdapterConfig& c) { c.faults.wrong_checksum = true; },
                  W::kOk, W::kFail, W::kOk});
  rows.push_back({"short_checksum", [](AdapterConfig& c) { c.faults.short_checksum = true; },
                  W::kOk, W::kFail, W::kOk});
  rows.push_back({"version_without_marker",
                  [](AdapterConfig& c) { c.faults.version_without_marker = true; },
                  W::kAny, W::kOk, W::kOk});
  rows.push_back({"bad_param_ack", [](AdapterConfig& c) { c.faults.bad_param_ack = true; },
                  W::kOk, W::kOk, W::kAny});
  return rows;
}

const std::vector<FaultRow>& AllRows() {
  static const std::vector<FaultRow> rows = Rows();
  return rows;
}

// ---- The runs -------------------------------------------------------------

using Address = std::array<uint8_t, 6>;

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool AllFF(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// The raw value the adapter stores when `value` is written to `op`.
uint32_t StoredFor(int op, uint32_t value) {
  if (op == kHookSpeedOp) return std::array<uint32_t, 4>{3, 5, 7, 10}.at(value);
  if (op == kOffHookPowerOp) return std::array<uint32_t, 5>{150, 190, 225, 95, 80}.at(value);
  return value;
}

const char* OpName(Op op) {
  static const char* const kOps[] = {"check", "update", "settings"};
  return kOps[static_cast<int>(op)];
}

// A row by its place in the table; failures name it.
struct RowIndex {
  size_t index;
};

std::vector<RowIndex> AllRowIndices() {
  std::vector<RowIndex> all;
  for (size_t i = 0; i < AllRows().size(); ++i) all.push_back({i});
  return all;
}

void PrintTo(Op op, std::ostream* os) { *os << OpName(op); }
void PrintTo(RowIndex row, std::ostream* os) { *os << AllRows()[row.index].name; }

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Op, RowIndex>> {
 protected:
  void SetUp() override {
    row().set(config);
    own = config.blank_identity ? kDefaultBtAddress : config.bt_address;
    silent_line = &b.virtual_ports.AddPort("COM1", nullptr);
    b.Adapter(config, "COM3");
    b.list.SetPorts({"COM1", "COM3"});
    b.AfterCheckDevice({.port = {}});
  }

  const FaultRow& row() const { return AllRows()[std::get<1>(GetParam()).index]; }
  const sim::DeviceModel& model() { return b.model(); }
  // Where Check Device leaves things.
  void Found(int version) { b.AfterCheckDevice({.version = version, .open = true}); }

  void RunCheck();
  void RunUpdate();
  void RunSettings();

  AdapterConfig config;
  Address own{};
  testing::HostBench b;
  VirtualLine* silent_line = nullptr;
};

void FaultMatrix::RunCheck() {
  b.dialog().OnCheckDevice();
  const bool found = Has(b.view.log, " Found device on COM3");
  EXPECT_NE(found, Has(b.view.log, " Please check device connection."));
  // The adapter's port stays open for the next button; the failed probe of
  // the silent port closed its own.
  EXPECT_EQ(b.virtual_ports.open_ports(), found ? 1 : 0);
  EXPECT_FALSE(silent_line->host_open());
  const bool versioned = !Has(b.view.log, " Can't get version number");
  if (found && versioned && row().exact) {
    EXPECT_EQ(b.facts().DeviceVersion, int(model().version()));
  }
  if (row().check != Want::kAny) {
    EXPECT_EQ(found && versioned, row().check == Want::kOk);
  }
}

void FaultMatrix::RunUpdate() {
  Found(0x1FF);
  b.view.confirm = true;
  b.dialog().OnUpdateFirmware();

  ASSERT_EQ(b.view.results.size(), 1u);
  const bool success = b.view.results[0];
  EXPECT_EQ(success, Has(b.view.log, " Success "));
  EXPECT_NE(success, Has(b.view.log, " Please re-install the device and try again."));
  // Twenty attempts at most, and all twenty before giving up.
  EXPECT_LE(b.counting.Count(3000), 19);
  if (!success) {
    EXPECT_EQ(b.counting.Count(3000), 19);
  }
  const auto flash = model().flash();
  const auto page = flash.subspan(kIdentityPageAddress, kPageSize);
  const auto own_page = BuildIdentityPage(own);
  if (success) {
    // Success means the image and the adapter's own identity, nothing less.
    const auto want = sim::FlashAfterUpdate(own);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), flash.begin(), flash.end()));
    EXPECT_EQ(b.facts().DeviceVersion, static_cast<int>(BuiltInImage().version()));
    EXPECT_EQ(b.virtual_ports.open_ports(), 0);
  } else {
    EXPECT_EQ(b.facts().DeviceVersion, 0x1FF);
    EXPECT_LE(b.virtual_ports.open_ports(), 1);
  }
  // The address is never lost: either the adapter still has its page, or the
  // utility holds the address to write back at the next attempt.
  const bool page_kept = std::equal(page.begin(), page.end(), own_page.begin());
  if (!page_kept) {
    EXPECT_EQ(b.facts().BtAddress, own) << "identity page "
                                     << (AllFF(page) ? "erased" : "overwritten");
  }
  if (row().exact) {
    EXPECT_TRUE(page_kept || AllFF(page));
  }
  if (row().update != Want::kAny) {
    EXPECT_EQ(success, row().update == Want::kOk);
  }
}

void FaultMatrix::RunSettings() {
  Found(static_cast<int>(BuiltInImage().version()));  // up to date
  const std::map<int, uint32_t> before = config.params;
  b.view.edit_settings = [](SettingsValues& v) {
    v.m_callerid = !v.m_callerid;
    v.m_hook_speed_index = 0;
    v.m_offhook_pwr_index = 0;
    v.m_a2dp = !v.m_a2dp;
    return true;
  };
  const SettingsOutcome outcome = b.dialog().OnSetting();

  const bool ok = outcome == SettingsOutcome::kWritten;
  EXPECT_EQ(ok, Has(b.view.log, " Set parameters successfully"));
  EXPECT_NE(ok, Has(b.view.log, " Set parameters failed") || Has(b.view.log, " Can't initial serial port. "));
  EXPECT_LE(b.virtual_ports.open_ports(), 1);

  // The writes that reached the adapter, each op in one run of frames (its
  // retry): an op that comes back after another means the writes went on past
  // a failure.
  std::vector<std::pair<int, uint32_t>> runs;
  for (const auto& frame : model().frames()) {
    if (frame.kind != ParamWrite || frame.bytes.size() < 7) continue;
    const int op = frame.bytes[5];
    if (!runs.empty() && runs.back().first == op) continue;
    if (row().exact) {
      for (const auto& run : runs) EXPECT_NE(run.first, op) << "op " << op << " written again";
    }
    runs.push_back({op, frame.bytes[6]});
  }
  // On failure the last op that reached the adapter may be the one that
  // failed, stored or not.
  std::map<int, uint32_t> claimed(runs.begin(), runs.end());
  int failed_op = 0;
  if (outcome == SettingsOutcome::kFailed && !runs.empty()) {
    failed_op = runs.back().first;
    claimed.erase(failed_op);
  }
  if (ok) {
    EXPECT_FALSE(runs.empty());
  }
  if (!row().exact) return;
  for (int op = 1; op <= 10; ++op) {
    SCOPED_TRACE("op " + std::to_string(op));
    if (claimed.count(op)) {
      EXPECT_EQ(model().param(op), StoredFor(op, claimed[op]));
    } else if (op != failed_op) {
      EXPECT_EQ(model().param(op), before.at(op));
    }
  }
}

TEST_P(FaultMatrix, EndsBoundedTruthfulAndTidy) {
  const Op op = std::get<0>(GetParam());
  const uint64_t start = b.clock.NowMs();
  uint64_t bound = 0;
  switch (op) {
    case Op::kCheck:
      RunCheck();
      bound = CheckBoundMs(2);
      break;
    case Op::kUpdate:
      RunUpdate();
      bound = UpdateBoundMs();
      break;
    case Op::kSettings:
      RunSettings();
      bound = SettingsBoundMs();
      break;
  }
  EXPECT_LE(b.clock.NowMs() - start, bound);
}

std::string RunName(const ::testing::TestParamInfo<std::tuple<Op, RowIndex>>& info) {
  return std::string(OpName(std::get<0>(info.param))) + "_" +
         AllRows()[std::get<1>(info.param).index].name;
}

// The rates over seeds mean something only if neighbouring seeds are
// independent: the bytes one seed drops must not be the next seed's one draw on.
TEST(FaultSeeds, NeighboursDropUnrelatedBytes) {
  auto dropped = [](uint32_t seed) {
    AdapterConfig config;
    config.faults.seed = seed;
    config.faults.drop_rate = 0.5;
    sim::DeviceModel model(config);
    std::vector<bool> pattern;
    for (uint64_t i = 0; i < 256; ++i) {
      // A lone 00 is thrown away as garbage, unless the line lost it first.
      const uint64_t before = model.garbage_bytes();
      const uint8_t byte = 0x00;
      const uint64_t at = 1000 + i * 1000;
      model.Receive(std::span(&byte, 1), std::span(&at, 1), 115200);
      pattern.push_back(model.garbage_bytes() == before);
    }
    return pattern;
  };
  for (uint32_t seed : {1u, 7u, 1000u}) {
    const auto a = dropped(seed);
    const auto b = dropped(seed + 1);
    int shifted = 0, lost = 0;
    for (size_t i = 0; i + 1 < a.size(); ++i) shifted += b[i] == a[i + 1];
    for (bool d : a) lost += d;
    EXPECT_GT(lost, 64) << "seed " << seed;
    EXPECT_LT(lost, 192) << "seed " << seed;
    EXPECT_LT(shifted, 170) << "seeds " << seed << " and " << seed + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix,
    ::testing::Combine(::testing::Values(Op::kCheck, Op::kUpdate, Op::kSettings),
                       ::testing::ValuesIn(AllRowIndices())),
    RunName);

}  // namespace
}  // namespace brivelton
