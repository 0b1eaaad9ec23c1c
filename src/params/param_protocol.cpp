// Reading and writing one adapter parameter with the "XS" frames.
#include <algorithm>

#include "app/main_dialog.h"
#include "app/message_log.h"

namespace brivelton {

namespace {
constexpr int kParamReplySize = 10;

uint32_t Le32(const std::array<uint8_t, 64>& bytes, int at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 |
         uint32_t{bytes[at + 2]} << 16 | uint32_t{bytes[at + 3]} << 24;
}
}  // namespace

uint32_t MainDialog::ReadParameter(int op) {
  link_.ParamOp = static_cast<uint8_t>(op);
  if (!Exchange(ParamRead)) {
    Trace(" Fail read op %d", op);
    return kParamError;
  }
  ++link_.ParamSequence;
  const auto& reply = link_.ReplyBuffer;
  // The exchange reads no more than the 10 bytes it expects; the bound keeps
  // every index below inside ReplyBuffer whatever the count says.
  const int n = std::min(link_.ReceivedCount, kParamReplySize);
  if (n < kParamReplySize) {
    Trace(" read count not correct, need to stop the read");
    ClosePort();
    return kParamError;
  }
  // Past what this reply put into ReplyBuffer lie older replies' bytes.
  const int fresh = std::min(n, link_.ReplyFresh);
  uint32_t result = kParamError;
  int i = 0;
  while (i <= fresh - 2 && !(reply[i] == 0x58 && reply[i + 1] == 0x53)) ++i;
  if (i > fresh - 2) {
    Trace(" Read error %02x %02x %02x %02x %02x", reply[0], reply[1], reply[2],
          reply[3], reply[4]);
  } else if (reply[i + 2] != 0x07 || reply[i + 4] != 0xEE) {
    Trace(" ACK error %02x %02x", reply[i + 2], reply[i + 3]);
  } else if (i + 9 < fresh) {
    result = Le32(reply, i + 6);
    Trace(" retval = %d", static_cast<int>(result));
  } else {
    Trace(" Size error %d %d", i, n);
  }
  Trace(" ==> done. get %d", static_cast<int>(result));
  return result;
}

uint32_t MainDialog::WriteParameter(int op, uint32_t value) {
  link_.ParamOp = static_cast<uint8_t>(op);
  link_.ParamValue = value;
  if (!Exchange(ParamWrite)) {
    Trace(" Fail write op %d", op);
    return kParamError;
  }
  ++link_.ParamSequence;
  Trace(" set op %d = %d", op, static_cast<int>(value));
  return 0;
}

}  // namespace brivelton
