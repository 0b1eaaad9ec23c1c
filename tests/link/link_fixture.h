#pragma once
#include "app/main_dialog.h"
#include "platform/virtual_serial.h"
#include "support/faulty_ports.h"
#include "support/recording_view.h"
#include "support/scripted_peer.h"

namespace brivelton::testing {

// One adapter-less port "COM3" with a scripted far end, already recorded as
// the found port.
struct LinkFixture {
  explicit LinkFixture(ScriptedPeer::Responder responder = nullptr) : peer(std::move(responder)) {
    line = &virtual_ports.AddPort("COM3", &peer);
    dialog.link().PortName = "COM3";
  }
  VirtualClock clock;
  VirtualSerialPorts virtual_ports{clock};
  FaultyPorts ports{virtual_ports};
  FixedPortList list{{"COM3"}};
  Platform platform{ports, clock, list};
  RecordingView view;
  ScriptedPeer peer;
  VirtualLine* line = nullptr;
  MainDialog dialog{view, platform};
};

inline std::vector<uint8_t> Filled(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

}  // namespace brivelton::testing
