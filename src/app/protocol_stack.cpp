// SPDX-License-Identifier: MIT
#include "app/protocol_stack.h"

#include <utility>

namespace brivelton {

ProtocolStack::ProtocolStack(Platform& platform, LineSink lines, LineSink trace,
                             const FirmwareImage& image)
    : log(std::move(lines), std::move(trace)),
      link(platform.ports, platform.clock, log),
      discovery(link, facts, platform.port_list, image.version()),
      updater(link, facts, image, [this] { discovery.RestartDevice(); },
              {.journal = platform.state,
               .usb_identity = [&list = platform.port_list](const std::string& port) {
                 return list.UsbIdentityOf(port);
               }}),
      params(link, facts) {}

}  // namespace brivelton
