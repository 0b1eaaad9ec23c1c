#include "link/frames.h"

#include <algorithm>
#include <initializer_list>

#include "update/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton {

namespace {

void PutLe32(std::vector<uint8_t>& frame, uint32_t value) {
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) { return bytes; }

// Boot-loader page write header: escape length 0x1005, command 07, address.
std::vector<uint8_t> PageWrite(uint32_t address, std::span<const uint8_t> data) {
  std::vector<uint8_t> frame = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07};
  frame.reserve(12 + kPageSize);
  PutLe32(frame, address);
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

}  // namespace

int ExpectedReplyLength(int kind) {
  switch (kind) {
    case LinkCheck:
    case BootHandshake:
      return 8;
    case SetBaud1M:
      return 12;
    case ResetStepA:
      return 15;
    case ResetStepB:
      return 5;
    case FlashReadStatus:
    case FlashWriteStatus:
      return 13;
    case FlashErase:
      return 16;
    case FlashWritePage:
    case WriteIdentityPage:
      return 15;
    case FlashChecksum:
      return 11;
    case FlashReadPage:
      return 4110;
    case QueryVersion:
      return 33;
    case ParamRead:
    case ParamWrite:
      return 10;
    default:
      return 0;
  }
}

EraseBlock EraseBlockOf(int block) {
  if (block < 16) return {0xD8, static_cast<uint32_t>(block) * 0x10000};
  return {0x20, 0x0F0000 + static_cast<uint32_t>((block * 16) % 256) * 0x100};
}

std::vector<uint8_t> BuildFrame(int kind, const LinkState& link) {
  switch (kind) {
    case LinkCheck:
      return Bytes({0x01, 0xE0, 0xFC, 0x01, 0x00});
    case BootHandshake:
    case HandshakeBurstLong:
    case HandshakeBurstShort:
      return Bytes({0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55});
    case BootCommandFE:
      return Bytes({0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27});
    case SetBaud1M:
      return Bytes({0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F});
    case ResetStepA:
      return Bytes({0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01,
                    0x00, 0x5A, 0x00});
    case ResetStepB:
      return Bytes({0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01,
                    0x00, 0xA5, 0x00});
    case FlashReadStatus:
      return Bytes({0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05});
    case FlashWriteStatus:
      return Bytes({0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00});
    case FlashErase: {
      const EraseBlock block = EraseBlockOf(link.EraseBlock);
      std::vector<uint8_t> frame = {0x01, 0xE0, 0xFC, 0xFF, 0xF4,
                                    0x06, 0x00, 0x0F, block.op};
      PutLe32(frame, block.address);
      return frame;
    }
    case FlashWritePage:
      return PageWrite(static_cast<uint32_t>(link.PageIndex) * kPageSize,
                       FirmwarePage(link.PageIndex));
    case WriteIdentityPage: {
      const auto page = BuildIdentityPage(link.BtAddress);
      return PageWrite(kIdentityPageAddress, page);
    }
    case FlashChecksum:
      return Bytes({0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF,
                    0xCF, 0x07, 0x00});
    case FlashReadPage: {
      std::vector<uint8_t> frame = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09};
      PutLe32(frame, link.ReadAddress);
      return frame;
    }
    case QueryVersion:
      return Bytes({0x2F, 0x76});
    case ParamRead:
      return Bytes({0x58, 0x53, 0x03, link.ParamSequence, 0x03, link.ParamOp, 0x00});
    case ParamWrite:
      return Bytes({0x58, 0x53, 0x07, link.ParamSequence, 0x83, link.ParamOp,
                    static_cast<uint8_t>(link.ParamValue), 0x00, 0x00, 0x00});
    default:
      return {};
  }
}

char HexDigit(int value) {
  if (value >= 0 && value <= 9) return static_cast<char>('0' + value);
  if (value >= 10 && value <= 15) return static_cast<char>('A' + value - 10);
  return '0';
}

}  // namespace brivelton
