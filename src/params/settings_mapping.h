// SPDX-License-Identifier: MIT
#pragma once
// How raw parameter values map to the parameter dialog's members and back.
// Pure functions, so that every front end and the command line agree.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "params/settings_values.h"

namespace brivelton {

inline constexpr int kParamCount = 10;  // ops 1 to 10

// The order the parameters are read in, and the order changed ones are
// written in. Media Audio (op 10) is written last of all, on its own.
inline constexpr std::array<int, kParamCount> kParamReadOrder = {1, 2, 3, 6, 7,
                                                                 9, 10, 4, 5, 8};
inline constexpr std::array<int, 9> kParamWriteOrder = {1, 3, 6, 7, 2, 9, 8, 4, 5};
inline constexpr int kMediaAudioOp = 10;
inline constexpr int kHookSpeedOp = 4;
inline constexpr int kOffHookPowerOp = 5;
inline constexpr int kDialPlanOp = 8;

// The member that holds op's parameter; null for an op outside 1..10.
int32_t SettingsValues::*ParamMember(int op);

// The member value for what a read of `op` gave; nullopt when the read
// failed. `unknown` is set when the raw value is not one the op knows (the
// member then takes the same fallback as a failed read).
int32_t MemberFromRaw(int op, std::optional<uint32_t> raw, bool* unknown = nullptr);

// Whether a read of `op` gave a raw value the op does not know.
bool UnknownRaw(int op, std::optional<uint32_t> raw);

// Raw results of a read of every op, indexed by op - 1; nullopt for a failed read.
using RawParams = std::array<std::optional<uint32_t>, kParamCount>;
SettingsValues MapReadValues(const RawParams& raw);

// The value an Off-Hook Power choice is written as; nullopt outside 0..4.
std::optional<uint32_t> OffHookPowerWriteValue(int32_t index);

// The value written for op when its member is `member`; nullopt when no value
// stands for it (an Off-Hook Power index outside 0..4).
std::optional<uint32_t> RawToWrite(int op, int32_t member);

// One write of a Setting run: op and the value to send (nullopt: the choice
// has no value and the write is skipped).
struct PlannedWrite {
  int op;
  std::optional<uint32_t> value;
  bool operator==(const PlannedWrite&) const = default;
};

// The writes for the members that differ between `read` and `chosen`, in
// write order, Media Audio excluded.
std::vector<PlannedWrite> PlanWrites(const SettingsValues& read,
                                     const SettingsValues& chosen);

}  // namespace brivelton
