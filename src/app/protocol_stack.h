// SPDX-License-Identifier: MIT
#pragma once
// The protocol layers as one front end or test uses them: a log, the link over
// the machine's ports and clock, and the three subsystems over that link.
#include "discovery/discovery.h"
#include "link/adapter_facts.h"
#include "log/message_log.h"
#include "link/link.h"
#include "params/parameters.h"
#include "platform/platform.h"
#include "resources/firmware_image.h"
#include "update/updater.h"

namespace brivelton {

struct ProtocolStack {
  // `lines` receives the message log, `trace` the developer's trace (none:
  // discarded). `image` must outlive the stack.
  ProtocolStack(Platform& platform, LineSink lines, LineSink trace = {},
                const FirmwareImage& image = BuiltInImage());
  ProtocolStack(const ProtocolStack&) = delete;
  ProtocolStack& operator=(const ProtocolStack&) = delete;

  MessageLog log;
  Link link;
  // What the search and the update learn of the adapter, for the front ends.
  AdapterFacts facts;
  Discovery discovery;
  Updater updater;
  Parameters params;
};

}  // namespace brivelton
