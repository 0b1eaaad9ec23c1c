#pragma once
// Every frame the utility sends, and the reply length it expects for each.
#include <cstdint>
#include <vector>

#include "link/link_state.h"

namespace brivelton {

enum CommandKind : int {
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

inline constexpr int kWriteFailed = 0xFFFFFF;
inline constexpr int kPageSize = 4096;

// The reply length a kind expects; 0 for kinds without reply or unknown kinds.
int ExpectedReplyLength(int kind);

// The frame of `kind` built from the fields of `link`; empty for a number that
// is not a kind.
std::vector<uint8_t> BuildFrame(int kind, const LinkState& link);

// Erase block b: the op byte and the address it carries.
struct EraseBlock {
  uint8_t op;
  uint32_t address;
};
EraseBlock EraseBlockOf(int block);

// 0-9 give '0'-'9', 10-15 give 'A'-'F', anything else '0'.
char HexDigit(int value);

}  // namespace brivelton
