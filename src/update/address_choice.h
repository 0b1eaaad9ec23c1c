// SPDX-License-Identifier: MIT
#pragma once
// Which Bluetooth address an update writes back, decided before anything is
// erased, and the hook by which it asks the front end when it can't decide.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "update/journal_entry.h"

namespace brivelton {

// What an update knows before erasing.
struct AddressSources {
  std::string port;
  UsbIdentity usb;                      // of `port`, as far as the system knows it
  std::optional<BtAddressBytes> page;   // the adapter's own page, when it has the mark
  std::optional<BtAddressBytes> given;  // from the user (--address)
  std::vector<JournalEntry> entries;    // every entry the journal holds
  // Without a journal, what this run already holds stands in for one;
  // with one, a blank page no entry applies to gets the start-up address.
  std::optional<BtAddressBytes> held;
  // The remedy the hint lines name for `address` (CommandLineRemedy when
  // empty).
  std::function<std::string(const std::string& address)> how_to_give;
};

struct AddressChoice {
  BtAddressBytes address{};
  // Log lines explaining the choice, none longer than a log line holds; none
  // when nothing needs saying.
  std::vector<std::string> lines;
  // A blank page that no single entry applies to: `address` is then the
  // start-up address, and the front end may be asked for a better one.
  bool undecided = false;
  // The entries that might be this adapter's, likeliest first.
  std::vector<JournalEntry> candidates;
};

// The adapter's own page always wins unless it is the start-up address, which
// counts as none. On a blank page: the user's address; else the one entry
// whose USB serial number is this port's; else the one entry saved from this
// port's name whose USB identity does not contradict this port's. None or
// several: the start-up address, each candidate named with the remedy.
AddressChoice ChooseAddress(const AddressSources& sources);

// ---- The hook: a front end asked for the address -------------------------
//
// When an update meets a blank page (or the start-up address) and no single
// saved address applies, the Updater logs the candidates and then, before
// anything is erased, calls AddressPrompt::ask once with them (possibly
// none). The windows show their address dialog; the command line answers
// kContinueWithout, having named --address in the log.

enum class AddressAnswer {
  kContinueWithout,  // write the start-up address, as when nothing was saved
  kGiven,            // write `address` (a candidate's, or the 12 digits typed)
  kCancel,           // erase nothing; the update ends as UpdateOutcome::kCancelled
};

struct AddressReply {
  AddressAnswer answer = AddressAnswer::kContinueWithout;
  // With kGiven. One MeaninglessAddressReason refuses (check it in the
  // dialog) cancels the update rather than being written.
  BtAddressBytes address{};
};

struct AddressPrompt {
  // The candidates, likeliest first; an empty list still asks.
  std::function<AddressReply(const std::vector<JournalEntry>& candidates)> ask;
  // The end of each hint line: how to give `address` ("00:1B:DC:0F:21:7E")
  // in this front end. Empty: CommandLineRemedy.
  std::function<std::string(const std::string& address)> how_to_give;
};

// "brivelton update --address 00:1B:DC:0F:21:7E".
std::string CommandLineRemedy(const std::string& address);

// `line` as log lines of at most 255 characters, nothing cut: each of
// `paths` in it shortened to its file name first, then split where a word
// ends, the rest indented.
std::vector<std::string> FitLogLine(std::string line, const std::vector<std::string>& paths = {});

}  // namespace brivelton
