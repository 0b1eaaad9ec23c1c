// SPDX-License-Identifier: MIT
#pragma once
// The identity journal: the Bluetooth address an update is about to erase,
// kept on the PC until that update has written it back, so that an update cut
// short (killed, unplugged, power lost) never costs the adapter its address.
// One entry per adapter, named by the address it keeps: saving one adapter's
// never touches another's, wherever it was saved from.
#include <optional>
#include <string>
#include <vector>

#include "link/bt_address.h"
#include "platform/state_store.h"
#include "update/journal_entry.h"

namespace brivelton {

// A file in the journal's place that is no entry: left where it is, never
// deleted or followed, and named to the user.
struct JournalProblem {
  std::string file;  // as a user would look for it
  std::string why;   // "it can't be read"
};

struct JournalContents {
  std::vector<JournalEntry> entries;
  std::vector<JournalProblem> problems;
};

// " Left /path/identity-X alone: why", as the update's log says it.
std::string LeftAloneLine(const JournalProblem& problem);
// An entry an update has done with but could not remove, as the log says it.
std::string NotRemovedLine(const JournalProblem& problem);

class IdentityJournal {
 public:
  explicit IdentityJournal(StateStore& store) : store_(store) {}
  // Every readable entry; files of an earlier version, one per port, too.
  // A file that can't be read as an entry stays where it is.
  JournalContents Read();
  // Replaces only the entry of `entry.address`; a file under its name that
  // is no entry of it stays, and the entry goes beside it.
  Result<void> Save(const JournalEntry& entry);
  // The readable entry of `entry.address` saved from its port, or from a
  // port with its USB serial number, if there is one.
  std::optional<JournalEntry> Kept(const JournalEntry& entry);
  // Removes the entry of `address`, whichever port it was saved from. What
  // could not be removed, and why.
  [[nodiscard]] std::vector<JournalProblem> Forget(const BtAddressBytes& address);
  std::string PathFor(const BtAddressBytes& address) const;

 private:
  StateStore& store_;
};

}  // namespace brivelton
