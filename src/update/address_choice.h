// SPDX-License-Identifier: MIT
#pragma once
// Which Bluetooth address an update writes back, decided before anything is
// erased, and the hook by which it asks the front end when it can't decide.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "update/identity_journal.h"
#include "update/journal_entry.h"

namespace brivelton {

// What an update knows before erasing.
struct AddressSources {
  std::string port;
  UsbIdentity usb;                      // of `port`, as far as the system knows it
  std::optional<BtAddressBytes> page;   // the adapter's own page, when it has the mark
  std::optional<BtAddressBytes> given;  // from the user (--address)
  std::vector<JournalEntry> entries;    // every entry the journal holds
  // Without a journal, what this run already holds stands in for one.
  std::optional<BtAddressBytes> held;
  // The remedy the hint lines name for `address`; none: they name none.
  std::function<std::string(const std::string& address)> how_to_give;
};

// Where the address an update writes back came from.
enum class AddressSource {
  kPage,     // the adapter's own identity page
  kSaved,    // an entry of the identity journal (or this run's, without one)
  kGiven,    // the user's, given before the update (--address)
  kTyped,    // typed in answer to the address question
  kStartUp,  // none known: the start-up address every blank adapter gets
};

// The address an update writes back, decided before anything is erased: which
// one, from where, and what else might have been this adapter's.
struct AddressDecision {
  BtAddressBytes address{};
  AddressSource source = AddressSource::kPage;
  // The journal file that keeps the address while the adapter may have no
  // firmware; empty when none does (or not yet).
  std::string journal_file;
  // Log lines explaining the choice, none longer than a log line holds; none
  // when nothing needs saying.
  std::vector<std::string> lines;
  // A blank page and saved addresses, none of them alone this adapter's:
  // nobody may guess, the front end is asked and otherwise nothing is erased.
  bool undecided = false;
  // A blank page and nothing saved that might be this adapter's: `address` is
  // the start-up address (unless the front end gives another).
  bool nothing_saved = false;
  // The saved addresses that might be this adapter's, one entry for each
  // address, likeliest first.
  std::vector<JournalEntry> candidates;
  // What the journal holds, and the files in its place it left alone; read
  // only for a page without an address of its own.
  std::vector<JournalEntry> saved;
  std::vector<JournalProblem> problems;
};

// The adapter's own page always wins unless it is the start-up address, which
// counts as none. On a blank page: the user's address; else the saved address
// of the entries whose USB serial number is this port's, or, when none has,
// of those saved from this port's name (its USB identity not contradicting
// this port's), when they all hold one and the same address. Several, or only
// entries saved elsewhere: undecided, each candidate named with the remedy.
// Nothing saved: the start-up address. An entry holding an address no adapter
// has is named and never a candidate.
AddressDecision ChooseAddress(const AddressSources& sources);

// ---- The hook: a front end asked for the address -------------------------
//
// When an update meets a blank page (or the start-up address) and no single
// saved address applies, the Updater logs the candidates and then, before
// anything is erased, calls AddressPrompt::ask once with them (possibly
// none). The windows show their address dialog; the command line asks on a
// terminal, and otherwise answers kUndecided having named --address in the
// log (or kContinueWithout when nothing is saved).

enum class AddressAnswer {
  kContinueWithout,  // write the start-up address, as when nothing was saved
  kGiven,            // write `address` (a candidate's, or the 12 digits typed)
  kCancel,           // erase nothing; the update ends as UpdateOutcome::kCancelled
  kUndecided,        // nobody could choose: erase nothing; UpdateOutcome::kRefusedUndecided
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
  // in this front end. Empty: the lines name no remedy.
  std::function<std::string(const std::string& address)> how_to_give;
};

// The line an update logs when it writes the start-up address because nothing
// was saved for the adapter; `how_to_give` as in AddressPrompt.
std::string StartUpAddressLine(
    const std::function<std::string(const std::string& address)>& how_to_give);

// `line` as log lines of at most 255 characters, nothing cut: each of
// `paths` in it shortened to its file name first, then split where a word
// ends, the rest indented.
std::vector<std::string> FitLogLine(std::string line, const std::vector<std::string>& paths = {});

}  // namespace brivelton
