// SPDX-License-Identifier: MIT
#pragma once
// The adapter's parameters: reading and writing one with the "XS" frames, and
// the settings procedure of the Setting button.
#include <cstdint>
#include <functional>
#include <optional>

#include "link/adapter_facts.h"
#include "link/link.h"
#include "params/settings_values.h"

namespace brivelton {

// What the trace shows for a parameter read that failed.
inline constexpr uint32_t kParamError = 0x58535853;

enum class SettingsOutcome {
  kNotSupported,  // the firmware is too old for parameters
  kNoPort,        // the found port could not be opened again
  kCancelled,     // the user left the dialog without OK
  kFailed,        // a write failed
  kWritten,       // every changed parameter was written
};

class Parameters {
 public:
  // Shows the dialog started from the values read; true with the user's
  // values when it ended with OK.
  using EditSettings = std::function<bool(SettingsValues& values)>;

  // `facts` tells whether the adapter's firmware has parameters at all.
  Parameters(Link& link, const AdapterFacts& facts);
  Parameters(const Parameters&) = delete;
  Parameters& operator=(const Parameters&) = delete;

  // The value; none when the exchange or the reply failed.
  std::optional<uint32_t> ReadParameter(int op);
  // Whether the adapter took it.
  bool WriteParameter(int op, uint32_t value);

  // Read the ten parameters, let `edit` change them, write back what changed.
  SettingsOutcome RunSettings(const EditSettings& edit);

 private:
  SettingsValues ReadAll();
  bool Write(int op, uint32_t value);

  Link& link_;
  LinkState& state_;
  const AdapterFacts& facts_;
  MessageLog& log_;
};

}  // namespace brivelton
