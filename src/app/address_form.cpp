// SPDX-License-Identifier: MIT
#include "app/address_form.h"

#include <cctype>

namespace brivelton {

std::string AddressCandidateLine(const JournalEntry& entry) {
  std::string line = FormatBtAddress(entry.address) + "   " + Shown(entry.port);
  if (!entry.name.empty()) line += "   " + Shown(entry.name);
  if (!entry.saved.empty()) line += "   saved " + Shown(entry.saved);
  return line;
}

std::string AddressFieldText(const JournalEntry& entry) { return FormatBtAddress(entry.address); }

bool AcceptTypedAddress(std::string_view typed, AddressReply& reply, std::string& refusal) {
  // Labels and phones write the bytes apart with colons, dashes or nothing,
  // and a pasted address often brings a space along.
  std::string text;
  for (char c : typed) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    text += c == '-' ? ':' : c;
  }
  if (text.empty()) {
    refusal = "Type the adapter's 12 hexadecimal digits, or pick a saved address.";
    return false;
  }
  const auto address = ParseBtAddress(text);
  if (!address) {
    refusal = "That is not an address: it takes 12 hexadecimal digits, such as 00:1B:DC:0F:21:7E.";
    return false;
  }
  if (const std::string why = MeaninglessAddressReason(*address); !why.empty()) {
    refusal = "That address can't be written: " + why + ".";
    return false;
  }
  reply = {AddressAnswer::kGiven, *address};
  refusal.clear();
  return true;
}

std::string WindowAddressRemedy(const std::string& /*address*/) {
  // The line names the address just before; the dialog opens right after.
  return "pick it in the Adapter Address dialog";
}

}  // namespace brivelton
