// SPDX-License-Identifier: MIT
#include "update/identity_journal.h"

#include <optional>

namespace brivelton {

namespace {
bool Printable(std::string_view text) { return Shown(text) == text; }
constexpr int kNamesPerAdapter = 4;

// Where an adapter's entry may be: its address's name, or one beside it when
// that is taken by a file that is no entry of it.
std::string NameFor(const BtAddressBytes& address, int k) {
  return JournalFileName(address) + (k == 0 ? "" : "-" + std::to_string(k));
}

// Whether the file `name` may hold `entry`: named by its address, or by its
// port as an earlier version did.
bool NamedFor(const std::string& name, const JournalEntry& entry) {
  for (int k = 0; k < kNamesPerAdapter; ++k)
    if (name == NameFor(entry.address, k)) return true;
  return name == EarlierJournalFileName(entry.port);
}
}  // namespace

std::string LeftAloneLine(const JournalProblem& problem) {
  return " Left " + Shown(problem.file) + " alone: " + Shown(problem.why);
}

std::string NotRemovedLine(const JournalProblem& problem) {
  return " Can't remove the saved address " + Shown(problem.file) + ": " + Shown(problem.why) +
         "; it will be offered again";
}

JournalContents IdentityJournal::Read() {
  store_.RemoveStaleTemporaries();
  JournalContents contents;
  for (const auto& name : store_.List()) {
    if (!name.starts_with(kJournalFilePrefix) || IsTemporaryName(name)) continue;
    const std::string path = store_.PathOf(name);
    const auto text = store_.Read(name);
    if (!text || !*text) {
      contents.problems.push_back(
          {path, text ? "it can't be read" : "it is " + text.error().text()});
      continue;
    }
    auto entry = ParseJournalEntry(**text);
    if (!entry) {
      contents.problems.push_back({path, "it holds no port and Bluetooth address"});
      continue;
    }
    if (!NamedFor(name, *entry)) {
      contents.problems.push_back({path, "it holds the address " + FormatBtAddress(entry->address) +
                                             ", not the one its name says"});
      continue;
    }
    entry->file = path;
    contents.entries.push_back(std::move(*entry));
  }
  return contents;
}

Result<void> IdentityJournal::Save(const JournalEntry& entry) {
  if (entry.port.empty() || !Printable(entry.port) || !Printable(entry.name) ||
      !Printable(entry.usb.vendor) || !Printable(entry.usb.product) ||
      !Printable(entry.usb.serial))
    return Error("the port name can't be recorded");
  const std::string text = FormatJournalEntry(entry);
  // The store would not read it back.
  if (text.size() > FileStateStore::kMaxFileBytes)
    return Error("the port name is too long to be recorded");
  // A file that is no entry of this adapter is never replaced: the entry
  // goes beside it.
  for (int k = 0; k < kNamesPerAdapter; ++k) {
    const std::string name = NameFor(entry.address, k);
    const auto there = store_.Read(name);
    const auto held = there && *there ? ParseJournalEntry(**there) : std::nullopt;
    if ((there && !*there) || (held && held->address == entry.address))
      return store_.Write(name, text);
  }
  return Error(PathFor(entry.address) +
               " and the names beside it hold files that are no entry of " +
               FormatBtAddress(entry.address) + "; left as they are");
}

std::optional<JournalEntry> IdentityJournal::Kept(const JournalEntry& entry) {
  for (auto& e : Read().entries)
    if (e.address == entry.address &&
        (e.port == entry.port || (!e.usb.serial.empty() && e.usb.serial == entry.usb.serial)))
      return std::move(e);
  return std::nullopt;
}

std::vector<JournalProblem> IdentityJournal::Forget(const BtAddressBytes& address) {
  // Only what reads as this adapter's entry goes: a file that is no entry
  // stays where it is, whatever its name. An earlier version's file for the
  // same adapter has done its job too.
  std::vector<JournalProblem> kept;
  for (const auto& name : store_.List()) {
    if (!name.starts_with(kJournalFilePrefix)) continue;
    const auto text = store_.Read(name);
    if (!text || !*text) continue;
    const auto entry = ParseJournalEntry(**text);
    if (!entry || entry->address != address || !NamedFor(name, *entry)) continue;
    if (auto removed = store_.Remove(name); !removed)
      kept.push_back({store_.PathOf(name), removed.error().text()});
  }
  return kept;
}

std::string IdentityJournal::PathFor(const BtAddressBytes& address) const {
  return store_.PathOf(JournalFileName(address));
}

}  // namespace brivelton
