// SPDX-License-Identifier: MIT
#include "app/address_form.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>


namespace brivelton {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::string LocalTimeText(std::string_view saved) {
  int y, mo, d, h, mi, s;
  char z = 0, end = 0;
  const std::string text(saved);
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &y, &mo, &d, &h, &mi, &s, &z,
                  &end) != 7 ||
      z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 ||
      h < 0 || mi < 0 || s < 0)
    return Shown(saved);
  const std::time_t utc = static_cast<std::time_t>(
      DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
      h * 3600 + mi * 60 + s);
  // Only the window's thread asks.
  const std::tm* local = std::localtime(&utc);
  char out[32];
  if (!local || std::strftime(out, sizeof out, "%Y-%m-%d %H:%M", local) == 0) return Shown(saved);
  return out;
}

std::string AddressCandidateLine(const JournalEntry& entry) {
  std::string line = FormatBtAddress(entry.address) + "   " + Shown(entry.port);
  if (!entry.name.empty()) line += "   " + Shown(entry.name);
  if (!entry.saved.empty()) line += "   saved " + LocalTimeText(entry.saved);
  return line;
}

std::string AddressFieldText(const JournalEntry& entry) { return FormatBtAddress(entry.address); }

Result<AddressReply> AcceptTypedAddress(std::string_view typed) {
  // Labels and phones write the bytes apart with colons, dashes or nothing,
  // and a pasted address often brings a space along.
  std::string text;
  for (char c : typed) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    text += c == '-' ? ':' : c;
  }
  if (text.empty())
    return Error("Type the adapter's 12 hexadecimal digits, or pick a saved address.");
  const auto address = ParseBtAddress(text);
  if (!address)
    return Error(
        "That is not an address: it takes 12 hexadecimal digits, such as 00:1B:DC:0F:21:7E.");
  if (const std::string why = MeaninglessAddressReason(*address); !why.empty())
    return Error("That address can't be written: " + why + ".");
  return AddressReply{AddressAnswer::kGiven, *address};
}

std::string WindowAddressRemedy(const std::string& /*address*/) {
  // The line names the address just before; the dialog opens right after.
  return "pick it in the Adapter Address dialog";
}

}  // namespace brivelton
