#pragma once
// The link alone over one adapter-less port "COM3" with a scripted far end,
// already recorded as the found port; the log goes to a recording view.
#include "link/link.h"
#include "platform/virtual_serial.h"
#include "support/faulty_ports.h"
#include "support/recording_view.h"
#include "support/scripted_peer.h"
#include "support/trace_capture.h"

namespace brivelton::testing {

struct LinkFixture {
  explicit LinkFixture(ScriptedPeer::Responder responder = nullptr) : peer(std::move(responder)) {
    line = &virtual_ports.AddPort("COM3", &peer);
    link.state().PortName = "COM3";
  }
  VirtualClock clock;
  VirtualSerialPorts virtual_ports{clock};
  FaultyPorts ports{virtual_ports};
  RecordingView view;
  TraceCapture trace;
  ScriptedPeer peer;
  VirtualLine* line = nullptr;
  MessageLog log{view.sink(), trace.sink()};
  Link link{ports, clock, log};
};

inline std::vector<uint8_t> Filled(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

}  // namespace brivelton::testing
