// SPDX-License-Identifier: MIT
#pragma once
// The commands the utility sends, each a row of the catalogue in frames.h.
#include <cstdint>

namespace brivelton {

// The numbers are the ones the trace has always shown.
enum class CommandKind : uint8_t {
  LinkCheck = 1,
  BootHandshake = 2,
  HandshakeBurstLong = 3,
  HandshakeBurstShort = 4,
  BootCommandFE = 5,
  SetBaud1M = 7,
  ResetStepA = 9,
  ResetStepB = 10,
  FlashReadStatus = 11,
  FlashWriteStatus = 12,
  FlashErase = 13,
  FlashWritePage = 14,
  WriteIdentityPage = 15,
  FlashChecksum = 17,
  FlashReadPage = 18,
  QueryVersion = 22,
  ParamRead = 23,
  ParamWrite = 24,
};

}  // namespace brivelton
