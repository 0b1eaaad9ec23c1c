// SPDX-License-Identifier: MIT
#include "update/address_choice.h"

#include <algorithm>

#include "log/message_log.h"
#include "update/updater.h"

namespace brivelton {

namespace {

std::string FileNameOf(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// Two identities contradict each other where both say something and differ.
bool Contradicts(const UsbIdentity& a, const UsbIdentity& b) {
  auto differ = [](const std::string& x, const std::string& y) {
    return !x.empty() && !y.empty() && x != y;
  };
  return differ(a.vendor, b.vendor) || differ(a.product, b.product) || differ(a.serial, b.serial);
}

bool SameSerial(const UsbIdentity& a, const UsbIdentity& b) {
  return !a.serial.empty() && a.serial == b.serial && !Contradicts(a, b);
}

std::string Candidate(const JournalEntry& entry) {
  std::string text = FormatBtAddress(entry.address) + " saved for port " + Shown(entry.port);
  if (!entry.usb.serial.empty()) text += " (USB serial number " + Shown(entry.usb.serial) + ")";
  return text + " at " + Shown(entry.saved);
}

}  // namespace

std::vector<std::string> FitLogLine(std::string line, const std::vector<std::string>& paths) {
  constexpr size_t kMax = kLogLineSize - 1;
  if (line.size() <= kMax) return {line};
  for (const auto& path : paths) {
    if (path.empty()) continue;
    const std::string name = FileNameOf(path);
    for (size_t at = line.find(path); at != std::string::npos;
         at = line.find(path, at + name.size()))
      line.replace(at, path.size(), name);
  }
  std::vector<std::string> lines;
  const std::string indent = "   ";
  while (line.size() > kMax) {
    size_t cut = line.rfind(' ', kMax);
    // A word longer than a line is cut through, but still all shown.
    if (cut == std::string::npos || cut <= indent.size()) cut = kMax;
    lines.push_back(line.substr(0, cut));
    line = indent + line.substr(line[cut] == ' ' ? cut + 1 : cut);
  }
  lines.push_back(line);
  return lines;
}

AddressDecision ChooseAddress(const AddressSources& s) {
  AddressDecision choice;
  std::vector<std::string> paths;
  for (const auto& entry : s.entries) paths.push_back(entry.file);
  auto say = [&](const std::string& line) {
    for (auto& part : FitLogLine(line, paths)) choice.lines.push_back(std::move(part));
  };

  const bool startup = s.page && *s.page == kDefaultBtAddress;
  if (s.page && !startup) {
    choice.address = *s.page;
    if (s.given && *s.given != *s.page)
      say(" The adapter keeps its own address " + FormatBtAddress(*s.page) + "; --address " +
          FormatBtAddress(*s.given) + " is not used");
    return choice;
  }
  const std::string page = startup ? " Identity page carries the start-up address " +
                                         FormatBtAddress(kDefaultBtAddress) +
                                         ", no address of its own"
                                   : " Identity page blank";

  // Likeliest first: same serial number, then same port, then the rest that
  // might be this adapter's. A serial number that differs says another one.
  std::vector<const JournalEntry*> by_serial, by_port, elsewhere;
  for (const auto& entry : s.entries) {
    if (const std::string why = MeaninglessAddressReason(entry.address); !why.empty())
      say(page + "; " + Shown(entry.file) + " holds " + FormatBtAddress(entry.address) +
          ", not used: " + why);
    else if (SameSerial(entry.usb, s.usb))
      by_serial.push_back(&entry);
    else if (Contradicts(entry.usb, s.usb))
      continue;
    else if (entry.port == s.port)
      by_port.push_back(&entry);
    else
      elsewhere.push_back(&entry);
  }
  // Entries that hold one address are one candidate.
  auto distinct = [](const std::vector<const JournalEntry*>& entries) {
    std::vector<const JournalEntry*> once;
    for (const auto* entry : entries)
      if (std::none_of(once.begin(), once.end(),
                       [&](const JournalEntry* e) { return e->address == entry->address; }))
        once.push_back(entry);
    return once;
  };
  const auto fits = distinct(by_serial.empty() ? by_port : by_serial);
  const JournalEntry* match = fits.size() == 1 ? fits[0] : nullptr;

  if (s.given) {
    choice.address = *s.given;
    choice.source = *s.given == kDefaultBtAddress ? AddressSource::kStartUp : AddressSource::kGiven;
    std::string line = page + ": writing the given address " + FormatBtAddress(*s.given);
    if (*s.given == kDefaultBtAddress) line = page + ": writing the start-up address " +
                                              FormatBtAddress(kDefaultBtAddress) + " as asked";
    if (match && match->address != *s.given)
      line += " (--address), not the saved " + FormatBtAddress(match->address) + " from " +
              Shown(match->file);
    say(line);
    return choice;
  }
  if (match) {
    choice.address = match->address;
    choice.source = AddressSource::kSaved;
    say(page + ": restored address " + FormatBtAddress(match->address) + " from " +
        Shown(match->file));
    return choice;
  }

  choice.address = s.held.value_or(kDefaultBtAddress);
  choice.source =
      choice.address == kDefaultBtAddress ? AddressSource::kStartUp : AddressSource::kSaved;
  std::vector<const JournalEntry*> all = by_serial;
  all.insert(all.end(), by_port.begin(), by_port.end());
  all.insert(all.end(), elsewhere.begin(), elsewhere.end());
  for (const auto* entry : distinct(all)) choice.candidates.push_back(*entry);
  choice.undecided = !choice.candidates.empty();
  choice.nothing_saved = !choice.undecided && choice.address == kDefaultBtAddress;
  for (const auto& entry : choice.candidates)
    say(page + "; the address " + Candidate(entry) + " is not used" +
        (s.how_to_give ? ". If it is this adapter's: " + s.how_to_give(FormatBtAddress(entry.address))
                       : std::string()));
  return choice;
}

AddressDecision DecideAddress(const UpdateOptions& options, const std::string& port,
                              const std::optional<BtAddressBytes>& page,
                              const std::optional<BtAddressBytes>& held) {
  AddressSources sources;
  sources.port = port;
  if (options.usb_identity) sources.usb = options.usb_identity(port);
  sources.page = page;
  sources.given = options.given_address;
  sources.how_to_give = options.address_prompt.how_to_give;
  JournalContents contents;
  if (options.journal && (!page || *page == kDefaultBtAddress))
    contents = IdentityJournal(*options.journal).Read();
  sources.entries = std::move(contents.entries);
  if (!options.journal) sources.held = held;
  AddressDecision decision = ChooseAddress(sources);
  decision.saved = std::move(sources.entries);
  decision.problems = std::move(contents.problems);
  return decision;
}

std::string StartUpAddressLine(
    const std::function<std::string(const std::string& address)>& how_to_give) {
  std::string line = " No address saved for this adapter: writing the start-up address " +
                     FormatBtAddress(kDefaultBtAddress);
  if (how_to_give)
    line += ". To give its own (on its label, or in the phone's list of paired devices), update "
            "again: " +
            how_to_give("<address>");
  return line;
}

}  // namespace brivelton
