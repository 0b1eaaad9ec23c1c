// SPDX-License-Identifier: MIT
// Writes a small seed corpus for every fuzz target: conversations that reach
// the interesting paths, in the slice format of reply_stream.h.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/frames.h"
#include "reply_stream.h"
#include "resources/firmware_image.h"

using namespace brivelton;
using enum brivelton::CommandKind;
using Bytes = std::vector<uint8_t>;

namespace {

std::string g_dir;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_dir + "/" + target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir + "/seed-" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One whole reply.
Bytes Slice(const Bytes& reply) {
  Bytes s{static_cast<uint8_t>(reply.size())};
  s.insert(s.end(), reply.begin(), reply.end());
  return s;
}
// The start of a reply, padded to the expected length plus `extra`.
Bytes Padded(const Bytes& head, int8_t extra = 0) {
  Bytes s{static_cast<uint8_t>(fuzz::kPadSlice + head.size())};
  s.insert(s.end(), head.begin(), head.end());
  s.push_back(static_cast<uint8_t>(extra));
  return s;
}
Bytes Late(const Bytes& reply, uint8_t fives) {
  Bytes s{static_cast<uint8_t>(fuzz::kLateSlice + reply.size())};
  s.insert(s.end(), reply.begin(), reply.end());
  s.push_back(fives);
  return s;
}
const Bytes kSilence = {fuzz::kNoReply};

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kLinkOk = {0x04, 0x0E, 0x05, 0x01, 0xE0, 0xFC, 0x01, 0x00};

Bytes VersionReply(const char* digits, size_t at = 2) {
  std::string text(at, '\n');
  text += "BN Version = ";
  text += digits;
  text += "\r\nBT 2.1 EDR\r\n>";
  text.resize(33, ' ');
  return Bytes(text.begin(), text.end());
}

Bytes ParamReply(uint8_t sequence, uint8_t op, uint32_t value) {
  return {0x58, 0x53, 0x07, sequence, 0xEE, op, uint8_t(value), uint8_t(value >> 8),
          uint8_t(value >> 16), uint8_t(value >> 24)};
}

Bytes ChecksumReply(bool good) {
  Bytes r = {0x04, 0x0E, 0x08, 0x01, 0xE0, 0xFC, 0x10};
  for (uint8_t b : BuiltInImage().checksum()) r.push_back(b);
  if (!good) r[10] ^= 1;
  return r;
}

Bytes PageHead(bool named) {
  Bytes r = {0x04, 0x0E, 0xFF, 0xF4, 0x08, 0x10, 0x01, 0xE0, 0xFC, 0x09, 0x00,
             0x00, 0xD0, 0x07, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  if (named) r.push_back('B'), r.push_back('r');
  return r;
}

Bytes Zeros(CommandKind kind) {
  Bytes r(static_cast<size_t>(ExpectedReplyLength(kind)), 0);
  r[0] = 0x04;
  r[1] = 0x0E;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  g_dir = argv[1];

  // Check Device: found at once; behind a silent port; after a restart; a
  // version the marker starts late in; no marker.
  Seed("fuzz_check_device", "found", Bytes{0} + Slice(kLinkOk) + Slice(VersionReply("1FF")));
  Seed("fuzz_check_device", "silent-first", Bytes{1} + Slice(kLinkOk) + Slice(VersionReply("204")));
  Seed("fuzz_check_device", "restart",
       Bytes{0} + kSilence + kSilence + Slice(Zeros(ResetStepA)) + Slice(Zeros(ResetStepB)) +
           Slice(Zeros(ResetStepA)) + Slice(Zeros(ResetStepB)) + Slice(kLinkOk) +
           Slice(VersionReply("203")));
  Seed("fuzz_check_device", "late-marker", Bytes{2} + Slice(kLinkOk) + Slice(VersionReply("2x4", 17)));
  Seed("fuzz_check_device", "late-reply",
       Bytes{0} + Slice(kLinkOk) + Late(VersionReply("300"), 40) + Slice(VersionReply("300")));

  // Parameters: ten good reads, two writes; a short reply; a bad ACK.
  Bytes reads;
  uint8_t sequence = 1;
  for (uint8_t op : {1, 2, 3, 6, 7, 9, 10, 4, 5, 8}) reads = reads + Slice(ParamReply(sequence++, op, op == 5 ? 150 : 1));
  const Bytes writes = Slice(ParamReply(sequence, 1, 0)) + Slice(ParamReply(uint8_t(sequence + 1), 5, 0));
  Seed("fuzz_params", "good", Bytes{0x05} + reads + writes + reads);
  Seed("fuzz_params", "short", Bytes{0x02} + Slice(Bytes{0x58, 0x53, 0x07, 0x01, 0xEE, 0x01, 0x01, 0x00}) + reads);
  Bytes bad_ack = ParamReply(1, 1, 1);
  bad_ack[4] = 0xE0;
  Seed("fuzz_params", "bad-ack", Bytes{0x09} + Slice(bad_ack) + reads + writes);

  // Identity page: named, blank, cut short.
  Seed("fuzz_identity", "named", Padded(PageHead(true)));
  Seed("fuzz_identity", "blank", Padded(PageHead(false)) + Padded(PageHead(true)));
  Seed("fuzz_identity", "short", Padded(PageHead(true), -1) + Padded(PageHead(true), 3));

  // Checksum: good, wrong, short, and with fuzzed erase replies.
  Seed("fuzz_checksum", "good", Bytes{0} + Slice(ChecksumReply(true)));
  Seed("fuzz_checksum", "wrong", Bytes{0} + Slice(ChecksumReply(false)) + Slice(ChecksumReply(true)));
  Bytes cut = ChecksumReply(true);
  cut.resize(9);
  Seed("fuzz_checksum", "short", Bytes{0} + Slice(cut) + Slice(ChecksumReply(true)));
  Bytes erase;
  for (int i = 0; i < 30; ++i) erase = erase + Padded({0x04, 0x0E});
  Seed("fuzz_checksum", "erase", Bytes{2} + erase + Slice(ChecksumReply(true)));

  // The update: checksum and identity replies from the input, then the whole
  // conversation silent at first.
  Seed("fuzz_update", "good", Bytes{0x48} + Padded(PageHead(true)) + Slice(ChecksumReply(true)));
  Seed("fuzz_update", "retry", Bytes{0x48} + Padded(PageHead(true)) + Slice(ChecksumReply(false)) +
                                   Slice(ChecksumReply(true)));
  Seed("fuzz_update", "no-boot", Bytes{0x03} + kSilence + kSilence + Slice(kLinkOk) + kSilence + kSilence);

  // Registry values.
  Seed("fuzz_registry", "com3", Bytes{1, 3, 'C', 'O', 'M', '3', 0, 0});
  Seed("fuzz_registry", "unterminated", Bytes{2, 2, 'C', 'O', 'M', '1', '2'});
  Seed("fuzz_registry", "binary", Bytes{3, 4, 'C', 'O', 'M', '4', 0});

  // Kernel tty names.
  const std::string names = "ttyS10\nttyS2\nttyUSB0\ntty1\nconsole\nrfcomm0\nttyACM01\nttyACM1\nptmx";
  Seed("fuzz_port_names", "ttys", Bytes(names.begin(), names.end()));

  // A tty class: legacy ports with and without a UART, one behind serial
  // core layers, a USB port, an RFCOMM port without a device, a console.
  Seed("fuzz_sysfs", "class",
       Bytes{0x1A, 0x81, 0} + Bytes{0x1A, 0x01, 1} + Bytes{0x5A, 0x82, 1, 2} +
           Bytes{0x2B, 0x01, 0} + Bytes{0x05, 0x01, 0} + Bytes{0x09, 0x01, 1} + Bytes{0x06, 0x00});
  return 0;
}
