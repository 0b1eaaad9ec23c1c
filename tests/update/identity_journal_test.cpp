// The identity journal: the address an update is about to erase is kept on
// the PC until the update wrote it back, and only ever serves its own port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/state_store.h"
#include "sim/virtual_adapter.h"
#include "support/host_bench.h"
#include "support/memory_state_store.h"
#include "update/address_choice.h"
#include "update/identity_journal.h"
#include "update/identity_page.h"
#include "support/scratch_dir.h"

namespace brivelton {
namespace {

using enum CommandKind;

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using Address = std::array<uint8_t, 6>;

const Address kOwn = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
const Address kSaved = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const Address kOther = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const Address kGiven = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
const Address kBlank = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST(BtAddressText, ParsesBothFormsAndNothingElse) {
  struct Case {
    const char* text;
    std::optional<Address> address;
  };
  const Case cases[] = {
      {"00:1B:DC:0F:21:7E", kOwn},
      {"001bdc0f217e", kOwn},
      {"001BDC0F217E", kOwn},
      {"00:1B:DC:0F:21", std::nullopt},
      {"001BDC0F217", std::nullopt},
      {"001BDC0F217E0", std::nullopt},
      {"00-1B-DC-0F-21-7E", std::nullopt},
      {"001B:DC:0F:21:7E:", std::nullopt},
      {"0x1BDC0F217E", std::nullopt},
      {"00:1B:DC:0F:21:7G", std::nullopt},
      {" 001BDC0F217E", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseBtAddress(c.text), c.address) << c.text;
  EXPECT_EQ(FormatBtAddress(kOwn), "00:1B:DC:0F:21:7E");
}

TEST(JournalEntryText, RoundTripsAndRefusesDamagedEntries) {
  const JournalEntry entry{"/dev/ttyUSB0", kOwn, "Brivelton(B00)", "2026-12-10T13:20:00Z"};
  const auto back = ParseJournalEntry(FormatJournalEntry(entry));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->port, entry.port);
  EXPECT_EQ(back->address, entry.address);
  EXPECT_EQ(back->name, entry.name);
  EXPECT_EQ(back->saved, entry.saved);
  for (const char* damaged : {"port=/dev/ttyUSB0\n", "address=00:1B:DC:0F:21:7E\n",
                              "port=/dev/ttyUSB0\naddress=00:1B:DC:0F:21\n",
                              "port=\naddress=00:1B:DC:0F:21:7E\n", ""})
    EXPECT_FALSE(ParseJournalEntry(damaged)) << damaged;
}

// One file per adapter, its name as short whatever the port is called.
TEST(JournalFileName, OneBoundedFilePerAdapter) {
  EXPECT_EQ(JournalFileName(kOwn), "identity-001BDC0F217E");
  EXPECT_NE(JournalFileName(kOwn), JournalFileName(kSaved));
}

TEST(BtAddressText, NoAdapterHasTheMeaninglessAddresses) {
  EXPECT_THAT(MeaninglessAddressReason(Address{}), HasSubstr("all zeros"));
  EXPECT_THAT(MeaninglessAddressReason({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), HasSubstr("all FF"));
  EXPECT_THAT(MeaninglessAddressReason(kDefaultBtAddress), HasSubstr("start-up address"));
  EXPECT_EQ(MeaninglessAddressReason(kOwn), "");
  EXPECT_EQ(Shown("COM3\x1b[2J\r"), "COM3?[2J?");
}

TEST(IdentityJournal, OneEntryPerAdapterAndForgetRemovesOnlyItsOwn) {
  MemoryStateStore store;
  IdentityJournal journal(store);
  std::string error;
  // Two adapters cut short on the same port, one on another.
  ASSERT_TRUE(journal.Save({"/dev/ttyUSB0", kSaved, "", "t1"}, error)) << error;
  ASSERT_TRUE(journal.Save({"/dev/ttyUSB0", kOwn, "", "t2"}, error)) << error;
  ASSERT_TRUE(journal.Save({"/dev/ttyUSB1", kOther, "", "t3"}, error)) << error;
  // A file named for another address than it holds is not ours.
  store.files["identity-stray"] = FormatJournalEntry({"/dev/ttyUSB0", kGiven, "", "t"});
  store.files[JournalFileName(kOther)] = FormatJournalEntry({"/dev/ttyUSB1", kGiven, "", "t"});
  ASSERT_TRUE(journal.Save({"/dev/ttyUSB1", kOther, "", "t3"}, error)) << error;

  auto on = [&journal](const std::string& port) {
    std::vector<JournalEntry> entries;
    for (auto& entry : journal.Read().entries)
      if (entry.port == port) entries.push_back(entry);
    return entries;
  };
  EXPECT_EQ(on("/dev/ttyUSB0").size(), 2u);
  EXPECT_EQ(on("/dev/ttyUSB1").size(), 1u);
  EXPECT_TRUE(on("/dev/ttyUSB2").empty());
  const JournalContents contents = journal.Read();
  EXPECT_EQ(contents.entries.size(), 3u);
  ASSERT_EQ(contents.problems.size(), 1u);
  EXPECT_EQ(LeftAloneLine(contents.problems[0]),
            " Left /state/identity-stray alone: it holds the address 0A:0B:0C:0D:0E:0F, not the "
            "one its name says");

  // Written back from another port: still this adapter's entry that goes.
  journal.Forget(kSaved);
  ASSERT_EQ(on("/dev/ttyUSB0").size(), 1u);
  EXPECT_EQ(on("/dev/ttyUSB0")[0].address, kOwn);
  EXPECT_EQ(on("/dev/ttyUSB1").size(), 1u);

  // An earlier version's file, one per port, is read and forgotten too.
  store.files["identity-COM3"] = FormatJournalEntry({"COM3", kGiven, "", "t"});
  ASSERT_EQ(on("COM3").size(), 1u);
  journal.Forget(kGiven);
  EXPECT_EQ(store.files.count("identity-COM3"), 0u);
  EXPECT_EQ(store.files.count("identity-stray"), 1u);

  // A port name that would break the entry's lines is refused, not mangled.
  EXPECT_FALSE(journal.Save({"/dev/tty\nUSB0", kSaved, "", "t"}, error));
  EXPECT_FALSE(error.empty());
}

// One press of Update Firmware on port COM3, with the journal in memory.
struct JournalBench : testing::HostBench {
  explicit JournalBench(sim::AdapterConfig config = {}) {
    adapter = &Adapter(std::move(config));
    updater.set_journal(&store);
    dialog();
    // What the journal held when the first erase was about to start.
    updater.set_flash_span([this](bool begins, bool) {
      if (begins && !at_first_erase) at_first_erase = store.files;
    });
  }
  std::vector<std::string> Update(std::optional<Address> given = std::nullopt) {
    updater.set_given_address(given);
    const size_t from = view.log.size();
    outcome = dialog().OnUpdateFirmware();
    return view.LogFrom(from);
  }
  // A new run of the program: nothing of the last one's memory is left.
  void NewRun() {
    state().BtAddress = kDefaultBtAddress;
    state().IdentityRead = false;
  }
  Address PageAddress() const {
    const auto flash = adapter->model().flash();
    Address a;
    std::copy(flash.begin() + kIdentityPageAddress, flash.begin() + kIdentityPageAddress + 6,
              a.begin());
    return a;
  }
  bool IdentityPageIs(const Address& address) const {
    const auto page = BuildIdentityPage(address);
    const auto flash = adapter->model().flash();
    return std::equal(page.begin(), page.end(), flash.begin() + kIdentityPageAddress);
  }
  int Erases() const {
    int n = 0;
    for (const auto& f : adapter->model().frames()) n += f.kind == FlashErase;
    return n;
  }
  void Save(const std::string& port, const Address& address) {
    store.files[JournalFileName(address)] = FormatJournalEntry({port, address, "", "t"});
  }

  MemoryStateStore store;
  std::optional<UpdateOutcome> outcome;
  sim::VirtualAdapter* adapter = nullptr;
  std::optional<std::map<std::string, std::string>> at_first_erase;
};

enum class Page { kOwn, kBlank, kStartUp };
struct Saved {
  const char* port;
  Address address;
};

TEST(IdentityJournalRules, WhichAddressAnUpdateWrites) {
  struct Case {
    const char* name;
    Page page;
    std::vector<Saved> entries;
    std::optional<Address> given;
    Address written;       // identity page after the update
    const char* log_part;  // in one line of the log; empty: no line about it
  };
  const Address kStartUp = kDefaultBtAddress;
  const Case cases[] = {
      {"own page readable", Page::kOwn, {}, std::nullopt, kOwn, ""},
      {"own page readable, stale entry for this port", Page::kOwn, {{"COM3", kSaved}},
       std::nullopt, kOwn, ""},
      {"own page readable, --address given", Page::kOwn, {}, kGiven, kOwn,
       " The adapter keeps its own address 00:1B:DC:0F:21:7E; --address 0A:0B:0C:0D:0E:0F is "
       "not used"},
      {"blank page, entry for this port", Page::kBlank, {{"COM3", kSaved}}, std::nullopt, kSaved,
       " Identity page blank: restored address 11:22:33:44:55:66 from /state/identity-"
       "112233445566"},
      {"blank page, entry for another port (adapter moved)", Page::kBlank, {{"COM7", kOther}},
       std::nullopt, kStartUp,
       " Identity page blank; the address A1:A2:A3:A4:A5:A6 saved for port COM7 at t is not "
       "used. If it is this adapter's: brivelton update --address A1:A2:A3:A4:A5:A6"},
      {"blank page, entries for both ports", Page::kBlank, {{"COM3", kSaved}, {"COM7", kOther}},
       std::nullopt, kSaved, " Identity page blank: restored address 11:22:33:44:55:66"},
      {"blank page, two adapters' entries on this port", Page::kBlank,
       {{"COM3", kSaved}, {"COM3", kOther}}, std::nullopt, kStartUp,
       " Identity page blank; the address 11:22:33:44:55:66 saved for port COM3 at t is not "
       "used. If it is this adapter's: brivelton update --address 11:22:33:44:55:66"},
      {"blank page, --address given", Page::kBlank, {}, kGiven, kGiven,
       " Identity page blank: writing the given address 0A:0B:0C:0D:0E:0F"},
      {"blank page, --address given and an entry for this port", Page::kBlank,
       {{"COM3", kSaved}}, kGiven, kGiven,
       " Identity page blank: writing the given address 0A:0B:0C:0D:0E:0F (--address), not "
       "the saved 11:22:33:44:55:66 from /state/identity-112233445566"},
      {"blank page, nothing known", Page::kBlank, {}, std::nullopt, kStartUp, ""},
      {"start-up address on the page, --address given", Page::kStartUp, {}, kGiven, kGiven,
       " Identity page carries the start-up address 00:01:00:03:04:06, no address of its own: "
       "writing the given address 0A:0B:0C:0D:0E:0F"},
      {"start-up address on the page, entry for this port", Page::kStartUp, {{"COM3", kSaved}},
       std::nullopt, kSaved,
       " Identity page carries the start-up address 00:01:00:03:04:06, no address of its own: "
       "restored address 11:22:33:44:55:66"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = c.page == Page::kBlank;
    if (c.page == Page::kStartUp) config.bt_address = kStartUp;
    JournalBench b(config);
    for (const auto& e : c.entries) b.Save(e.port, e.address);

    const auto log = b.Update(c.given);
    EXPECT_EQ(b.view.results, std::vector<bool>{true});
    EXPECT_TRUE(b.IdentityPageIs(c.written)) << FormatBtAddress(b.PageAddress());
    if (*c.log_part) {
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.find(c.log_part) == 0;
      })) << c.log_part;
    } else {
      for (const auto& line : log) EXPECT_THAT(line, Not(HasSubstr("ddress"))) << line;
    }
    // The address written was on the PC before anything was erased...
    if (c.written != kStartUp) {
      ASSERT_TRUE(b.at_first_erase);
      const auto saved = b.at_first_erase->find(JournalFileName(c.written));
      ASSERT_NE(saved, b.at_first_erase->end());
      EXPECT_EQ(ParseJournalEntry(saved->second)->address, c.written);
    }
    // ...and once written back, its entry is gone; every other adapter's stays.
    EXPECT_EQ(b.store.files.count(JournalFileName(c.written)), 0u);
    for (const auto& e : c.entries)
      if (e.address != c.written) {
        EXPECT_EQ(b.store.files.count(JournalFileName(e.address)), 1u);
      }
  }
}

// The seam the windows' address dialog is built on: asked only when no single
// saved address applies, before anything is erased.
TEST(IdentityJournalRules, TheFrontEndIsAskedWhenNoSingleEntryApplies) {
  struct Case {
    const char* name;
    AddressReply reply;
    Address written;
    bool success;
    const char* log_line;
  };
  const Case cases[] = {
      {"an address given", {AddressAnswer::kGiven, kGiven}, kGiven, true,
       " Writing the address given: 0A:0B:0C:0D:0E:0F"},
      {"continue without", {}, kDefaultBtAddress, true, ""},
      {"a meaningless address is not written", {AddressAnswer::kGiven, Address{}}, kBlank, false,
       " Refused the address 00:00:00:00:00:00: all zeros is no adapter's address"},
      {"cancel", {AddressAnswer::kCancel, {}}, kBlank, false,
       " No address chosen: update cancelled, nothing erased"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = true;
    JournalBench b(config);
    b.Save("COM3", kSaved);
    b.Save("COM3", kOther);
    std::vector<JournalEntry> asked;
    b.updater.set_address_prompt(
        {[&](const std::vector<JournalEntry>& candidates) {
           asked = candidates;
           return c.reply;
         },
         [](const std::string& address) { return "the address dialog (" + address + ")"; }});
    const auto log = b.Update();
    EXPECT_EQ(asked.size(), 2u);
    // Cancelled: no result dialog, the log has said why.
    EXPECT_EQ(b.view.results, c.success ? std::vector<bool>{true} : std::vector<bool>{});
    EXPECT_EQ(b.outcome, c.success ? UpdateOutcome::kSucceeded : UpdateOutcome::kCancelled);
    EXPECT_EQ(b.PageAddress(), c.written);
    EXPECT_THAT(log, Contains(HasSubstr("If it is this adapter's: the address dialog (")));
    if (*c.log_line) {
      EXPECT_THAT(log, Contains(c.log_line));
    }
    if (!c.success) {
      EXPECT_EQ(b.Erases(), 0);
    }
    EXPECT_EQ(b.store.files.size(), 2u);
  }
}

TEST(IdentityJournalRules, AJournalThatCannotBeWrittenStopsBeforeAnyErase) {
  JournalBench b;
  b.store.refuse_writes = true;
  const auto log = b.Update();
  EXPECT_EQ(b.Erases(), 0);
  EXPECT_TRUE(b.IdentityPageIs(kOwn));
  EXPECT_THAT(log, Contains(" Can't save the Bluetooth address 00:1B:DC:0F:21:7E (No space "
                            "left on device): update stopped, nothing erased"));
  EXPECT_THAT(log, Not(Contains(" Erase flash ..........")));
  EXPECT_EQ(b.view.results, std::vector<bool>{false});
  EXPECT_EQ(b.outcome, UpdateOutcome::kStoppedBeforeErase);
  // Back in its old firmware, and the port free.
  EXPECT_EQ(b.adapter->model().mode(), sim::Mode::kFirmware);
  EXPECT_EQ(b.virtual_ports.open_ports(), 0);
}

// Twenty attempts, every one unplugged while the pages are written, leave a
// blank identity page; the next run, a new process, restores the address.
TEST(IdentityJournalRules, TwentyFailuresThenANewRunKeepTheAddress) {
  sim::AdapterConfig config;
  config.faults.hangup_step = sim::UpdateStep::kPageWrite;
  config.faults.hangup_index = 40;
  config.faults.hangup_count = 20;
  JournalBench b(config);
  b.Update();
  ASSERT_EQ(b.view.results, std::vector<bool>{false});
  EXPECT_EQ(b.PageAddress(), (Address{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(b.store.files.count(JournalFileName(kOwn)), 1u);

  b.NewRun();
  const auto log = b.Update();
  EXPECT_EQ(b.view.results, (std::vector<bool>{false, true}));
  EXPECT_THAT(log, Contains(" Identity page blank: restored address 00:1B:DC:0F:21:7E from "
                            "/state/identity-001BDC0F217E"));
  EXPECT_TRUE(b.IdentityPageIs(kOwn));
  EXPECT_TRUE(b.store.files.empty());
}

}  // namespace
}  // namespace brivelton
