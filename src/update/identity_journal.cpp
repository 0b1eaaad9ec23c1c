#include "update/identity_journal.h"

namespace brivelton {

namespace {
bool Printable(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}
}  // namespace

std::string LeftAloneLine(const JournalProblem& problem) {
  return " Left " + Shown(problem.file) + " alone: " + Shown(problem.why);
}

JournalContents IdentityJournal::Read() {
  JournalContents contents;
  for (const auto& name : store_.List()) {
    if (!name.starts_with(kJournalFilePrefix) || name.ends_with(".tmp")) continue;
    const std::string path = store_.PathOf(name);
    std::string refused;
    const auto text = store_.Read(name, refused);
    if (!text) {
      contents.problems.push_back(
          {path, refused.empty() ? "it can't be read" : "it is " + refused});
      continue;
    }
    auto entry = ParseJournalEntry(*text);
    if (!entry) {
      contents.problems.push_back({path, "it holds no port and Bluetooth address"});
      continue;
    }
    // Named by its address, or by its port as an earlier version did.
    if (JournalFileName(entry->address) != name && EarlierJournalFileName(entry->port) != name) {
      contents.problems.push_back({path, "it holds the address " + FormatBtAddress(entry->address) +
                                             ", not the one its name says"});
      continue;
    }
    entry->file = path;
    contents.entries.push_back(std::move(*entry));
  }
  return contents;
}

bool IdentityJournal::Save(const JournalEntry& entry, std::string& error) {
  if (entry.port.empty() || !Printable(entry.port) || !Printable(entry.name) ||
      !Printable(entry.usb.vendor) || !Printable(entry.usb.product) ||
      !Printable(entry.usb.serial)) {
    error = "the port name can't be recorded";
    return false;
  }
  const std::string text = FormatJournalEntry(entry);
  // The store would not read it back.
  if (text.size() > FileStateStore::kMaxFileBytes) {
    error = "the port name is too long to be recorded";
    return false;
  }
  return store_.Write(JournalFileName(entry.address), text, error);
}

void IdentityJournal::Forget(const BtAddressBytes& address) {
  // Only what reads as this adapter's entry goes: a file that is no entry
  // stays where it is, whatever its name. An earlier version's file for the
  // same adapter has done its job too.
  for (const auto& name : store_.List()) {
    if (!name.starts_with(kJournalFilePrefix)) continue;
    std::string refused;
    const auto text = store_.Read(name, refused);
    if (!text) continue;
    const auto entry = ParseJournalEntry(*text);
    if (entry && entry->address == address &&
        (name == JournalFileName(address) || EarlierJournalFileName(entry->port) == name))
      store_.Remove(name);
  }
}

std::string IdentityJournal::PathFor(const BtAddressBytes& address) const {
  return store_.PathOf(JournalFileName(address));
}

}  // namespace brivelton
