// SPDX-License-Identifier: MIT
// The benchmark scenarios of bench/run.sh on the virtual port: the very
// command line the real run uses, in-process, against the simulated adapter on
// virtual time. What it prints is the time the protocol's own waits and the
// wire cost, with nothing of ours on top; and the floor under that: the bytes
// on the wire at their line speed plus the adapter's working time.
//   virtual_update update           the update (Check Device first, as the tool does)
//   virtual_update check SILENT     Check Device behind SILENT silent ports
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "link/frames.h"
#include "platform/clock.h"
#include "sim/virtual_adapter.h"
#include "sim/virtual_serial.h"

using namespace brivelton;
using enum brivelton::CommandKind;

namespace {

struct Floor {
  double host_wire_ms = 0;
  double adapter_wire_ms = 0;
  double device_ms = 0;
  uint64_t host_bytes = 0;
  uint64_t adapter_bytes = 0;
  double total() const { return host_wire_ms + adapter_wire_ms + device_ms; }
};

// Every frame the adapter took, its reply at the same speed, and the work the
// adapter did for it before answering.
Floor FloorOf(const sim::DeviceModel& model) {
  const sim::Timing& t = model.config().timing;
  Floor f;
  for (const sim::FrameRecord& frame : model.frames()) {
    const uint64_t reply =
        frame.kind ? static_cast<uint64_t>(ExpectedReplyLength(*frame.kind)) : 0;
    f.host_bytes += frame.bytes.size();
    f.adapter_bytes += reply;
    f.host_wire_ms += WireTimeUs(frame.bytes.size(), frame.baud) / 1000.0;
    f.adapter_wire_ms += WireTimeUs(reply, frame.baud) / 1000.0;
    uint64_t work = reply ? t.reply_latency_us : 0;
    if (frame.kind) switch (*frame.kind) {
      case FlashErase: work += frame.bytes[8] == 0xD8 ? t.erase_64k_us : t.erase_4k_us; break;
      case FlashWritePage:
      case WriteIdentityPage: work += t.page_program_us; break;
      case FlashChecksum: work += t.checksum_us; break;
      case FlashReadPage: work += t.page_read_us; break;
      default: break;
    }
    f.device_ms += work / 1000.0;
  }
  return f;
}

int Run(const std::vector<std::string>& args, Platform& platform) {
  std::ostringstream out, err;
  std::istringstream in;
  cli::CliIo io{out, err, in, false, false};
  return cli::RunCli(args, platform, io);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  VirtualClock clock;
  VirtualSerialPorts ports(clock);
  FixedPortList none({});
  Platform platform{ports, clock, none};
  std::vector<std::unique_ptr<sim::VirtualAdapter>> silent;

  if (what == "update") {
    sim::VirtualAdapter adapter(ports, "adapter");  // version 1FF, default device times
    const int status = Run({"--port", "adapter", "update", "--yes"}, platform);
    const Floor f = FloorOf(adapter.model());
    std::printf("update_virtual_ms %.1f\n", clock.NowUs() / 1000.0);
    std::printf("update_floor_ms %.1f\n", f.total());
    std::printf("update_floor_parts host_bytes=%llu host_wire_ms=%.1f adapter_bytes=%llu "
                "adapter_wire_ms=%.1f device_ms=%.1f\n",
                static_cast<unsigned long long>(f.host_bytes), f.host_wire_ms,
                static_cast<unsigned long long>(f.adapter_bytes), f.adapter_wire_ms, f.device_ms);
    // Every byte at 100,000 bytes a second, the high speed, as a simpler bound.
    std::printf("update_floor_100kBps_ms %.1f\n",
                (f.host_bytes + f.adapter_bytes) / 100.0 + f.device_ms);
    std::printf("update_status %d\n", status);
    return status;
  }
  if (what == "check" && argc > 2) {
    const int count = std::atoi(argv[2]);
    std::vector<std::string> args;
    sim::AdapterConfig quiet;
    quiet.faults.silent = true;
    for (int i = 0; i < count; ++i) {
      const std::string name = "silent" + std::to_string(i + 1);
      silent.push_back(std::make_unique<sim::VirtualAdapter>(ports, name, quiet));
      args.insert(args.end(), {"--port", name});
    }
    sim::VirtualAdapter adapter(ports, "adapter");
    args.insert(args.end(), {"--port", "adapter", "check"});
    const int status = Run(args, platform);
    std::printf("check_virtual_ms %d %.1f\n", count, clock.NowUs() / 1000.0);
    std::printf("check_status %d\n", status);
    return status;
  }
  std::fprintf(stderr, "usage: virtual_update update | check SILENT_PORTS\n");
  return 2;
}
