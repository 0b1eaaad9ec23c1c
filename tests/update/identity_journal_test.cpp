// SPDX-License-Identifier: MIT
// The identity journal: the address an update is about to erase is kept on
// the PC until the update wrote it back, and only ever serves its own port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/state_store.h"
#include "sim/virtual_adapter.h"
#include "support/failure_of.h"
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
using ::testing::IsEmpty;
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
  // Saved again by an editor that ends lines in CR LF, and with the USB
  // device the port had.
  const auto crlf = ParseJournalEntry(
      "port=COM5\r\naddress=00:1B:DC:0F:21:7E\r\nusb_serial=A50285BI\r\nlater=x\r\n");
  ASSERT_TRUE(crlf);
  EXPECT_EQ(crlf->port, "COM5");
  EXPECT_EQ(crlf->usb, (UsbIdentity{"", "", "A50285BI"}));
  JournalEntry with_usb = entry;
  with_usb.usb = {"0403", "6001", "A50285BI"};
  EXPECT_EQ(ParseJournalEntry(FormatJournalEntry(with_usb))->usb, with_usb.usb);
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
  // Two adapters cut short on the same port, one on another.
  ASSERT_EQ(FailureOf(journal.Save({"/dev/ttyUSB0", kSaved, "", "t1"})), "");
  ASSERT_EQ(FailureOf(journal.Save({"/dev/ttyUSB0", kOwn, "", "t2"})), "");
  ASSERT_EQ(FailureOf(journal.Save({"/dev/ttyUSB1", kOther, "", "t3"})), "");
  // A file named for another address than it holds is not ours, and is not
  // replaced: the entry goes beside it.
  store.files["identity-stray"] = FormatJournalEntry({"/dev/ttyUSB0", kGiven, "", "t"});
  const std::string planted = FormatJournalEntry({"/dev/ttyUSB1", kGiven, "", "t"});
  store.files[JournalFileName(kOther)] = planted;
  ASSERT_EQ(FailureOf(journal.Save({"/dev/ttyUSB1", kOther, "", "t3"})), "");
  EXPECT_EQ(store.files[JournalFileName(kOther)], planted);
  EXPECT_EQ(store.files.count(JournalFileName(kOther) + "-1"), 1u);

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
  ASSERT_EQ(contents.problems.size(), 2u);
  EXPECT_EQ(LeftAloneLine(contents.problems[1]),
            " Left /state/identity-stray alone: it holds the address 0A:0B:0C:0D:0E:0F, not the "
            "one its name says");

  // Written back from another port: still this adapter's entry that goes.
  EXPECT_THAT(journal.Forget(kSaved), IsEmpty());
  ASSERT_EQ(on("/dev/ttyUSB0").size(), 1u);
  EXPECT_EQ(on("/dev/ttyUSB0")[0].address, kOwn);
  EXPECT_EQ(on("/dev/ttyUSB1").size(), 1u);

  // An earlier version's file, one per port, is read and forgotten too.
  store.files["identity-COM3"] = FormatJournalEntry({"COM3", kGiven, "", "t"});
  ASSERT_EQ(on("COM3").size(), 1u);
  EXPECT_THAT(journal.Forget(kGiven), IsEmpty());
  EXPECT_EQ(store.files.count("identity-COM3"), 0u);
  EXPECT_EQ(store.files.count("identity-stray"), 1u);
  EXPECT_THAT(journal.Forget(kOther), IsEmpty());
  EXPECT_EQ(store.files.count(JournalFileName(kOther) + "-1"), 0u);
  EXPECT_EQ(store.files[JournalFileName(kOther)], planted);
  // Beside four files that are no entry of it, an entry is not saved.
  for (const char* beside : {"", "-1", "-2", "-3"})
    store.files[JournalFileName(kOwn) + beside] = "junk";
  EXPECT_EQ(FailureOf(journal.Save({"/dev/ttyUSB0", kOwn, "", "t"})),
            "/state/identity-001BDC0F217E and the names beside it hold files that are no entry of "
            "00:1B:DC:0F:21:7E; left as they are");

  // A port name that would break the entry's lines is refused, not mangled.
  EXPECT_NE(FailureOf(journal.Save({"/dev/tty\nUSB0", kSaved, "", "t"})), "");
  // So is one whose entry could not be read back.
  EXPECT_EQ(FailureOf(journal.Save({"/dev/" + std::string(4096, 'p'), kSaved, "", "t"})),
            "the port name is too long to be recorded");
  // A 180-character name is nothing special.
  EXPECT_EQ(FailureOf(journal.Save({"/dev/" + std::string(180, 'p'), kSaved, "", "t"})), "");
}

// No log line is cut: a path gives way to its file name, and what still
// does not fit goes on to the next line.
TEST(JournalLogLines, FitTheLogWithoutLosingAWord) {
  const std::string dir = "/home/" + std::string(200, 'u') + "/.local/state/brivelton/";
  const std::string path = dir + "identity-001BDC0F217E";
  const std::string port = "/dev/serial/by-id/" + std::string(180, 'p');
  struct Case {
    const char* name;
    std::string line;
    std::vector<std::string> fitted;
  };
  const Case cases[] = {
      {"short: as it is", " Identity page blank: restored address X from " + path.substr(200),
       {" Identity page blank: restored address X from " + path.substr(200)}},
      {"a long path: its file name",
       " Identity page blank: restored address 00:1B:DC:0F:21:7E from " + path,
       {" Identity page blank: restored address 00:1B:DC:0F:21:7E from identity-001BDC0F217E"}},
      {"a long port name: two lines", " the address 00:1B:DC:0F:21:7E saved for port " + port +
           " at 2026-12-10T13:20:00Z is not used. If it is this adapter's: brivelton update "
           "--address 00:1B:DC:0F:21:7E",
       {" the address 00:1B:DC:0F:21:7E saved for port " + port + " at",
        "   2026-12-10T13:20:00Z is not used. If it is this adapter's: brivelton update "
        "--address 00:1B:DC:0F:21:7E"}},
      {"one word longer than a line: cut through, all of it shown", " x" + std::string(300, 'w'),
       {" x" + std::string(253, 'w'), "   " + std::string(47, 'w')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto fitted = FitLogLine(c.line, {path});
    EXPECT_EQ(fitted, c.fitted);
    for (const auto& line : fitted) EXPECT_LE(line.size(), 255u);
  }
}

// One press of Update Firmware on port COM3, with the journal in memory.
struct JournalBench : testing::HostBench {
  explicit JournalBench(sim::AdapterConfig config = {}) {
    adapter = &Adapter(std::move(config));
    updater.options().journal = &store;
    dialog();
    // What the journal held when the first erase was about to start.
    updater.options().flash_span = [this](bool begins, bool) {
      if (begins && !at_first_erase) at_first_erase = store.files;
    };
  }
  std::vector<std::string> Update(std::optional<Address> given = std::nullopt) {
    updater.options().given_address = given;
    const size_t from = view.log.size();
    outcome = dialog().OnUpdateFirmware();
    return view.LogFrom(from);
  }
  // A new run of the program: nothing of the last one's memory is left.
  void NewRun() {
    facts() = {};
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
  // Under the address's name, or as an earlier version did, under the port's.
  void Save(const std::string& port, const Address& address, const std::string& serial = "",
            bool earlier = false) {
    JournalEntry entry{port, address, "", "t"};
    if (!serial.empty()) entry.usb = {"0403", "6001", serial};
    store.files[earlier ? EarlierJournalFileName(port) : JournalFileName(address)] =
        FormatJournalEntry(entry);
  }
  // The USB serial number of COM3's cable; none: the system doesn't say.
  void PortSerial(const std::string& serial) {
    updater.options().usb_identity = [serial](const std::string&) {
      return serial.empty() ? UsbIdentity{} : UsbIdentity{"0403", "6001", serial};
    };
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
  const char* serial = "";  // of the port's USB device when it was saved
  bool earlier = false;     // under the port's name, as an earlier version saved it
};

TEST(IdentityJournalRules, WhichAddressAnUpdateWrites) {
  struct Case {
    const char* name;
    Page page;
    std::vector<Saved> entries;
    std::optional<Address> given;
    Address written;       // identity page after the update
    const char* log_part;  // in one line of the log; empty: no line about it
    const char* port_serial = "";  // of COM3's USB device now
    bool refused = false;  // nobody could choose: stopped before any erase
  };
  const Address kStartUp = kDefaultBtAddress;
  const Address kZeros{};
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
       std::nullopt, kBlank,
       " Identity page blank; the address A1:A2:A3:A4:A5:A6 saved for port COM7 at t is not "
       "used. If it is this adapter's: brivelton update --address A1:A2:A3:A4:A5:A6",
       "", true},
      {"blank page, entries for both ports", Page::kBlank, {{"COM3", kSaved}, {"COM7", kOther}},
       std::nullopt, kSaved, " Identity page blank: restored address 11:22:33:44:55:66"},
      {"blank page, two adapters' entries on this port", Page::kBlank,
       {{"COM3", kSaved}, {"COM3", kOther}}, std::nullopt, kBlank,
       " Identity page blank; the address 11:22:33:44:55:66 saved for port COM3 at t is not "
       "used. If it is this adapter's: brivelton update --address 11:22:33:44:55:66",
       "", true},
      {"blank page, one address in entries of both formats", Page::kBlank,
       {{"COM3", kSaved}, {"COM3", kSaved, "", true}}, std::nullopt, kSaved,
       " Identity page blank: restored address 11:22:33:44:55:66"},
      {"blank page, two adapters' entries on this port, one of them an earlier version's",
       Page::kBlank, {{"COM3", kSaved, "", true}, {"COM3", kOther}}, std::nullopt, kBlank,
       " Identity page blank; the address A1:A2:A3:A4:A5:A6 saved for port COM3 at t is not "
       "used.",
       "", true},
      {"blank page, an entry of all zeros is no candidate", Page::kBlank, {{"COM3", kZeros}},
       std::nullopt, kStartUp,
       " Identity page blank; /state/identity-000000000000 holds 00:00:00:00:00:00, not used: "
       "all zeros is no adapter's address"},
      {"blank page, an entry of the start-up address beside this port's", Page::kBlank,
       {{"COM3", kStartUp}, {"COM3", kSaved}}, std::nullopt, kSaved,
       " Identity page blank: restored address 11:22:33:44:55:66"},
      {"blank page, the start-up address asked for", Page::kBlank,
       {{"COM3", kSaved}, {"COM3", kOther}}, kStartUp, kStartUp,
       " Identity page blank: writing the start-up address 00:01:00:03:04:06 as asked"},
      {"blank page, --address given", Page::kBlank, {}, kGiven, kGiven,
       " Identity page blank: writing the given address 0A:0B:0C:0D:0E:0F"},
      {"blank page, --address given and an entry for this port", Page::kBlank,
       {{"COM3", kSaved}}, kGiven, kGiven,
       " Identity page blank: writing the given address 0A:0B:0C:0D:0E:0F (--address), not "
       "the saved 11:22:33:44:55:66 from /state/identity-112233445566"},
      {"blank page, nothing known", Page::kBlank, {}, std::nullopt, kStartUp,
       " No address saved for this adapter: writing the start-up address 00:01:00:03:04:06. To "
       "give its own (on its label, or in the phone's list of paired devices), update again: "
       "brivelton update --address <address>"},
      {"start-up address on the page, --address given", Page::kStartUp, {}, kGiven, kGiven,
       " Identity page carries the start-up address 00:01:00:03:04:06, no address of its own: "
       "writing the given address 0A:0B:0C:0D:0E:0F"},
      {"start-up address on the page, entry for this port", Page::kStartUp, {{"COM3", kSaved}},
       std::nullopt, kSaved,
       " Identity page carries the start-up address 00:01:00:03:04:06, no address of its own: "
       "restored address 11:22:33:44:55:66"},
      {"start-up address on the page, two candidates", Page::kStartUp,
       {{"COM3", kSaved}, {"COM3", kOther}}, std::nullopt, kStartUp,
       " Identity page carries the start-up address 00:01:00:03:04:06, no address of its own; "
       "the address 11:22:33:44:55:66 saved for port COM3 at t is not used.",
       "", true},
      // Cut short on COM7, then updated on COM3 with its address: the entry
      // saved from COM7 has done its job (checked below for every case).
      {"blank page, --address of an entry saved elsewhere", Page::kBlank, {{"COM7", kOther}},
       kOther, kOther, " Identity page blank: writing the given address A1:A2:A3:A4:A5:A6"},
      {"moved to another port, same USB serial number", Page::kBlank,
       {{"COM7", kOther, "A50285BI"}}, std::nullopt, kOther,
       " Identity page blank: restored address A1:A2:A3:A4:A5:A6 from /state/identity-"
       "A1A2A3A4A5A6",
       "A50285BI"},
      {"the serial number's entry before this port's", Page::kBlank,
       {{"COM3", kSaved}, {"COM7", kOther, "A50285BI"}}, std::nullopt, kOther,
       " Identity page blank: restored address A1:A2:A3:A4:A5:A6", "A50285BI"},
      // Another serial number says another adapter: nothing is saved for this one.
      {"this port's entry from another USB device", Page::kBlank, {{"COM3", kSaved, "FT0XYZ12"}},
       std::nullopt, kStartUp, " No address saved for this adapter", "A50285BI"},
      {"this port's entry, the system knew no serial number then", Page::kBlank,
       {{"COM3", kSaved}}, std::nullopt, kSaved,
       " Identity page blank: restored address 11:22:33:44:55:66", "A50285BI"},
      {"two entries with this port's serial number", Page::kBlank,
       {{"COM7", kSaved, "A50285BI"}, {"COM8", kOther, "A50285BI"}}, std::nullopt, kBlank,
       " Identity page blank; the address A1:A2:A3:A4:A5:A6 saved for port COM8 (USB serial "
       "number A50285BI) at t is not used.",
       "A50285BI", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = c.page == Page::kBlank;
    if (c.page == Page::kStartUp) config.bt_address = kStartUp;
    JournalBench b(config);
    b.PortSerial(c.port_serial);
    for (const auto& e : c.entries) b.Save(e.port, e.address, e.serial, e.earlier);
    const auto before = b.store.files;

    const auto log = b.Update(c.given);
    EXPECT_EQ(b.view.results, std::vector<bool>{!c.refused});
    if (c.refused) {
      // Stopped before any erase, every entry as it was.
      EXPECT_EQ(b.outcome, UpdateOutcome::kRefusedUndecided);
      EXPECT_EQ(b.Erases(), 0);
      EXPECT_EQ(b.store.files, before);
      EXPECT_THAT(log, Contains(HasSubstr("none was chosen: update stopped, ")));
    }
    if (c.refused) {
      EXPECT_EQ(b.PageAddress(), c.written);
    } else {
      EXPECT_TRUE(b.IdentityPageIs(c.written)) << FormatBtAddress(b.PageAddress());
    }
    if (*c.log_part) {
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.find(c.log_part) == 0;
      })) << c.log_part;
    } else {
      for (const auto& line : log) EXPECT_THAT(line, Not(HasSubstr("ddress"))) << line;
    }
    // The address written was on the PC before anything was erased...
    if (c.written != kStartUp && !c.refused) {
      ASSERT_TRUE(b.at_first_erase);
      const auto saved = b.at_first_erase->find(JournalFileName(c.written));
      ASSERT_NE(saved, b.at_first_erase->end());
      EXPECT_EQ(ParseJournalEntry(saved->second)->address, c.written);
      EXPECT_EQ(ParseJournalEntry(saved->second)->usb.serial, c.port_serial);
    }
    // ...and once written back, its entry is gone; every other adapter's stays.
    EXPECT_EQ(b.store.files.count(JournalFileName(c.written)), 0u);
    for (const auto& e : c.entries)
      if (e.address != c.written && !e.earlier) {
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
       " No address chosen: update cancelled, no erase sent (its identity page was blank "
       "already)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = true;
    JournalBench b(config);
    b.Save("COM3", kSaved);
    b.Save("COM3", kOther);
    std::vector<JournalEntry> asked;
    b.updater.options().address_prompt = 
        {[&](const std::vector<JournalEntry>& candidates) {
           asked = candidates;
           return c.reply;
         },
         [](const std::string& address) { return "the address dialog (" + address + ")"; }};
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

// A file in the journal's place that reads as no entry is named in one line
// and left as it was, even under the name of the address written.
TEST(IdentityJournalRules, FilesThatAreNoEntryAreNamedAndLeftInPlace) {
  struct Case {
    const char* name;
    std::string content;
    Address written;
    const char* log_line;  // empty: nothing said about the file
  };
  const Case cases[] = {
      {"cut short", "port=COM3\naddress=00:1B:DC", kDefaultBtAddress,
       " Left /state/identity-001BDC0F217E alone: it holds no port and Bluetooth address"},
      {"binary", std::string("\x7f" "ELF\x02\x01\x00\xff\n=\x1b[2J", 13), kDefaultBtAddress,
       " Left /state/identity-001BDC0F217E alone: it holds no port and Bluetooth address"},
      {"another address than its name says", "port=COM3\naddress=11:22:33:44:55:66\n",
       kDefaultBtAddress,
       " Left /state/identity-001BDC0F217E alone: it holds the address 11:22:33:44:55:66, not "
       "the one its name says"},
      {"CR LF line ends: an entry still", "port=COM3\r\naddress=00:1B:DC:0F:21:7E\r\n", kOwn, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = true;
    JournalBench b(config);
    b.store.files[JournalFileName(kOwn)] = c.content;
    const auto log = b.Update();
    EXPECT_EQ(b.view.results, std::vector<bool>{true});
    EXPECT_EQ(b.PageAddress(), c.written);
    if (*c.log_line) {
      EXPECT_THAT(log, Contains(c.log_line));
      EXPECT_EQ(b.store.files.at(JournalFileName(kOwn)), c.content);
    } else {
      EXPECT_THAT(log, Contains(HasSubstr("restored address 00:1B:DC:0F:21:7E")));
      EXPECT_TRUE(b.store.files.empty());
    }
  }
}

// The state folder as a hostile local user could leave it, under the real
// file store: each planted file is named and left, and the adapter ends with
// its own address or the start-up address, never another adapter's.
TEST(IdentityJournalRules, PlantedFilesNeverGiveAnotherAdapterItsAddress) {
  namespace fs = std::filesystem;
  const std::string x_entry = JournalFileName(kOwn);
  const std::string x_text = FormatJournalEntry({"COM3", kOwn, "", "t"});
  struct Case {
    const char* name;
    std::function<void(const fs::path& dir)> plant;
    const char* left_why;  // in the " Left <path> alone: " line; empty: none
  };
  const Case cases[] = {
      {"an entry too large to read",
       [&](const fs::path& dir) {
         std::ofstream(dir / x_entry) << x_text << "name=" << std::string(5000, 'x') << "\n";
       },
       "it is larger than 4096 bytes"},
      {"a FIFO", [&](const fs::path& dir) { mkfifo((dir / x_entry).c_str(), 0600); },
       "it is not a regular file"},
      {"a link to another adapter's entry",
       [&](const fs::path& dir) {
         std::ofstream(dir / "elsewhere") << FormatJournalEntry({"COM3", kOther, "", "t"});
         fs::create_symlink(dir / "elsewhere", dir / JournalFileName(kOther));
       },
       "it is a symbolic link, not followed"},
      {"another adapter's entry under this one's name",
       [&](const fs::path& dir) {
         std::ofstream(dir / x_entry) << FormatJournalEntry({"COM3", kOther, "", "t"});
       },
       "it holds the address A1:A2:A3:A4:A5:A6, not the one its name says"},
      {"binary", [&](const fs::path& dir) { std::ofstream(dir / x_entry) << "\x7f" "ELF\x1b[2J"; },
       "it holds no port and Bluetooth address"},
  };
  for (const auto& c : cases) {
    for (const bool with_own_entry : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (with_own_entry ? ", and the adapter's own entry" : ""));
      testing::ScratchDir scratch("brivelton-planted");
      const fs::path dir = scratch.path();
      c.plant(dir);
      // The adapter's own entry, saved by an earlier version under its
      // port's name, beside what was planted.
      if (with_own_entry) std::ofstream(dir / "identity-COM3") << x_text;
      FileStateStore store(dir.string());
      sim::AdapterConfig config;
      config.blank_identity = true;
      JournalBench b(config);
      b.updater.options().journal = &store;
      const auto log = b.Update();
      EXPECT_EQ(b.view.results, std::vector<bool>{true});
      EXPECT_EQ(b.PageAddress(), with_own_entry ? kOwn : kDefaultBtAddress);
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.starts_with(" Left " + dir.string() + "/identity-") &&
               line.ends_with(std::string(" alone: ") + c.left_why);
      })) << c.left_why;
      for (const auto& line : log) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
      // What was planted is still there, as it was.
      std::error_code ec;
      EXPECT_TRUE(fs::exists(fs::symlink_status(dir / x_entry, ec)) ||
                  fs::exists(fs::symlink_status(dir / JournalFileName(kOther), ec)));
      EXPECT_EQ(fs::exists(dir / "identity-COM3"), false);
    }
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

// A rerun after an update cut short, on a state folder that takes no writes:
// the entry that restores the address is there already, so nothing needs
// writing. Where none is, nothing is erased, and the log does not claim the
// flash untouched when the page arrived blank.
TEST(IdentityJournalRules, AnEntryAlreadySavedNeedsNoWrite) {
  struct Case {
    const char* name;
    bool saved;
    const char* log_part;
  };
  const Case cases[] = {
      {"the entry saved from this port", true,
       " Identity page blank: restored address 11:22:33:44:55:66"},
      {"nothing saved: the start-up address needs no entry", false,
       " No address saved for this adapter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = true;
    JournalBench b(config);
    if (c.saved) b.Save("COM3", kSaved);
    b.store.refuse_writes = true;
    const auto log = b.Update();
    EXPECT_EQ(b.outcome, UpdateOutcome::kSucceeded);
    EXPECT_THAT(log, Contains(HasSubstr(c.log_part)));
    EXPECT_TRUE(b.IdentityPageIs(c.saved ? kSaved : kDefaultBtAddress));
    EXPECT_TRUE(b.store.files.empty());
  }
  // Given an address no entry holds, the write is needed, fails, and the
  // words say the page was blank already.
  sim::AdapterConfig config;
  config.blank_identity = true;
  JournalBench b(config);
  b.store.refuse_writes = true;
  const auto log = b.Update(kGiven);
  EXPECT_EQ(b.outcome, UpdateOutcome::kStoppedBeforeErase);
  EXPECT_EQ(b.Erases(), 0);
  EXPECT_THAT(log, Contains(HasSubstr("update stopped, no erase sent (its identity page was "
                                      "blank already)")));
  EXPECT_THAT(log, Not(Contains(HasSubstr("nothing erased"))));
}

// The entry goes once the checksum and the identity page read back prove the
// address is on the adapter, before the restart; a page read back wrong keeps
// it, and twenty of them are never a success.
TEST(IdentityJournalRules, TheEntryGoesWhenTheReadBackProvesTheAddress) {
  for (const int wrong : {0, 1, 20}) {
    SCOPED_TRACE(wrong);
    sim::AdapterConfig config;
    config.faults.wrong_identity_writes = wrong;
    JournalBench b(config);
    std::vector<std::pair<AttemptEvent::Kind, bool>> events;  // with whether the entry was there
    b.updater.options().attempts = [&](const AttemptEvent& event) {
      events.emplace_back(event.kind, b.store.files.count(JournalFileName(kOwn)) == 1);
      if (event.kind == AttemptEvent::Kind::kFailed) {
        EXPECT_EQ(event.why, AttemptFailure::kIdentityMismatch);
      }
    };
    const auto log = b.Update();
    const bool success = wrong < kMaxAttempts;
    EXPECT_EQ(b.outcome, success ? UpdateOutcome::kSucceeded : UpdateOutcome::kFailed);
    EXPECT_EQ(std::count(log.begin(), log.end(), " Identity page read back wrong"), wrong);
    EXPECT_EQ(b.store.files.count(JournalFileName(kOwn)), success ? 0u : 1u);
    ASSERT_FALSE(events.empty());
    if (success) {
      // Gone by the time the attempt reports it verified, before any restart.
      EXPECT_EQ(events.back(), std::make_pair(AttemptEvent::Kind::kVerified, false));
      EXPECT_TRUE(b.IdentityPageIs(kOwn));
    } else {
      EXPECT_EQ(events.back(), std::make_pair(AttemptEvent::Kind::kGaveUp, true));
    }
  }
}

// An entry that can't be removed once the address is proved is offered to
// the next blank adapter: the log says so, and the update still succeeded.
TEST(IdentityJournalRules, AnEntryThatCannotBeRemovedIsNamedInTheLog) {
  JournalBench b;
  b.store.refuse_removal = true;
  const auto log = b.Update();
  EXPECT_EQ(b.outcome, UpdateOutcome::kSucceeded);
  EXPECT_EQ(b.store.files.count(JournalFileName(kOwn)), 1u);
  const std::string line = " Can't remove the saved address /state/" + JournalFileName(kOwn) +
                           ": Permission denied; it will be offered again";
  EXPECT_EQ(std::count(log.begin(), log.end(), line), 1);
  EXPECT_THAT(log, Contains(" Success "));

  // Removed, nothing is said.
  JournalBench quiet;
  EXPECT_THAT(quiet.Update(), Not(Contains(HasSubstr("Can't remove"))));
  EXPECT_EQ(quiet.store.files.count(JournalFileName(kOwn)), 0u);
}

// An adapter whose page arrived blank may have no firmware already: the
// attempt events say so before any erase is sent.
TEST(IdentityJournalRules, APageThatArrivedBlankCountsAsErased) {
  for (const bool blank : {false, true}) {
    SCOPED_TRACE(blank);
    sim::AdapterConfig config;
    config.blank_identity = blank;
    config.faults.ignore_kind[FlashWriteStatus] = 2;  // the first unlock fails
    JournalBench b(config);
    std::optional<AttemptEvent> failed;
    b.updater.options().attempts = [&](const AttemptEvent& event) {
      if (event.kind == AttemptEvent::Kind::kFailed && !failed) failed = event;
    };
    b.Update(kGiven);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->why, AttemptFailure::kEraseRefused);
    EXPECT_EQ(failed->erased, blank);
    EXPECT_EQ(b.outcome, UpdateOutcome::kSucceeded);
  }
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

// What the update says it wrote and where that came from (the tool's --json
// reports it), and the file that kept it while the flash was erased.
TEST(IdentityJournalRules, TheUpdateSaysWhereTheAddressItWroteCameFrom) {
  struct Case {
    const char* name;
    bool blank;
    std::vector<Address> saved;  // entries for COM3
    std::optional<Address> given;
    std::optional<AddressReply> reply;  // none: nobody is asked
    Address written;
    AddressSource source;
    bool kept_in_journal;
  };
  const Case cases[] = {
      {"its own page", false, {}, std::nullopt, std::nullopt, kOwn, AddressSource::kPage, true},
      {"--address", true, {}, kGiven, std::nullopt, kGiven, AddressSource::kGiven, true},
      {"--start-up-address", true, {kSaved}, kDefaultBtAddress, std::nullopt, kDefaultBtAddress,
       AddressSource::kStartUp, false},
      {"the one saved entry", true, {kSaved}, std::nullopt, std::nullopt, kSaved,
       AddressSource::kSaved, true},
      {"a saved entry picked", true, {kSaved, kOther}, std::nullopt,
       AddressReply{AddressAnswer::kGiven, kSaved}, kSaved, AddressSource::kSaved, true},
      {"typed", true, {kSaved, kOther}, std::nullopt, AddressReply{AddressAnswer::kGiven, kGiven},
       kGiven, AddressSource::kTyped, true},
      {"continue without", true, {kSaved, kOther}, std::nullopt, AddressReply{},
       kDefaultBtAddress, AddressSource::kStartUp, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    config.blank_identity = c.blank;
    JournalBench b(config);
    for (const auto& address : c.saved) b.Save("COM3", address);
    if (c.reply) {
      const AddressReply reply = *c.reply;
      b.updater.options().address_prompt = {
          [reply](const std::vector<JournalEntry>&) { return reply; }, {}};
    }
    EXPECT_FALSE(b.updater.address_decision());
    b.Update(c.given);
    EXPECT_EQ(b.outcome, UpdateOutcome::kSucceeded);
    const auto& decision = b.updater.address_decision();
    ASSERT_TRUE(decision);
    EXPECT_EQ(decision->address, c.written);
    EXPECT_EQ(decision->source, c.source);
    EXPECT_EQ(decision->journal_file,
              c.kept_in_journal ? "/state/" + JournalFileName(c.written) : std::string());
  }
}

}  // namespace
}  // namespace brivelton
