// SPDX-License-Identifier: MIT
#pragma once
// The host's own code on virtual ports and virtual time: the protocol layers,
// and the main window logic when a test asks for it. The far end of a port is
// a scripted peer, the simulated adapter, or nothing at all.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main_dialog.h"
#include "app/protocol_stack.h"
#include "sim/virtual_adapter.h"
#include "sim/virtual_serial.h"
#include "support/counting_clock.h"
#include "support/faulty_ports.h"
#include "support/recording_view.h"
#include "support/scripted_peer.h"
#include "support/trace_capture.h"

namespace brivelton::testing {

// The list a test hands the search: any status, unreadable entries included.
class TablePortList : public PortList {
 public:
  PortListing List() override {
    ++lists;
    return listing;
  }
  std::vector<std::string> FallbackNames() const override {
    ++fallbacks;
    return fallback;
  }
  std::vector<PortDetail> Details(const std::string& name) const override {
    const auto it = details.find(name);
    return it == details.end() ? std::vector<PortDetail>{} : it->second;
  }

  void SetPorts(std::vector<std::optional<std::string>> entries) {
    listing.status = PortListing::Status::kOk;
    listing.entries = std::move(entries);
  }

  PortListing listing;
  std::map<std::string, std::vector<PortDetail>> details;
  std::vector<std::string> fallback;
  int lists = 0;
  mutable int fallbacks = 0;
};

class HostBench {
 public:
  // What Check Device leaves behind, for a test to start from: the port it
  // found (and whether that is open again), and the version it read (none:
  // none came).
  struct Checked {
    std::optional<int> version;
    std::string port = "COM3";
    bool open = false;
  };

  // `found` is recorded as the found port, as a search would leave it, and
  // is the one entry of the port list.
  explicit HostBench(const std::string& found = "COM3") {
    list.SetPorts({found});
    AfterCheckDevice({.port = found});
    // As the window would show it, with or without a window.
    updater.options().progress = [this](UpdateStage stage, int done, int total) {
      view.UpdateProgress(stage, done, total);
    };
  }
  HostBench(const HostBench&) = delete;
  HostBench& operator=(const HostBench&) = delete;

  // A port whose far end answers from a script.
  ScriptedPeer& Script(ScriptedPeer::Responder responder = nullptr,
                       const std::string& name = "COM3") {
    auto peer = std::make_unique<ScriptedPeer>(std::move(responder));
    ScriptedPeer& ref = *peer;
    virtual_ports.AddPort(name, &ref);
    peers_.push_back(std::move(peer));
    return ref;
  }
  // A port with the simulated adapter behind it.
  sim::VirtualAdapter& Adapter(sim::AdapterConfig config = {}, const std::string& name = "COM3") {
    adapters_.push_back(
        std::make_unique<sim::VirtualAdapter>(virtual_ports, name, std::move(config)));
    return *adapters_.back();
  }
  // Any other far end; it lives as long as the bench.
  template <class Peer, class... Args>
  Peer& Attach(Args&&... args) {
    auto peer = std::make_unique<Peer>(std::forward<Args>(args)...);
    Peer& ref = *peer;
    peers_.push_back(std::move(peer));
    return ref;
  }

  // The main window logic over this bench's layers, made on first use.
  MainDialog& dialog() {
    if (!window_) window_.emplace(view, stack);
    return *window_;
  }

  LinkState& state() { return stack.link.state(); }
  AdapterFacts& facts() { return stack.facts; }

  // Starts from `checked`, keeping what an update read before it; false
  // when the port was to be open again and could not be.
  bool AfterCheckDevice(const Checked& checked) {
    state().PortName = checked.port;
    facts().DeviceVersion = checked.version;
    if (!checked.open) return true;
    link.ClosePort();
    return link.ReopenFoundPort();
  }
  // Starts from an identity page read earlier in this run: the address the
  // update took from it, and whether the update under way read it.
  void AfterIdentityRead(const BtAddressBytes& address, bool this_update) {
    facts().BtAddress = address;
    facts().IdentityRead = this_update;
  }
  sim::DeviceModel& model(size_t i = 0) { return adapters_.at(i)->model(); }
  bool Traced(const std::string& line) const { return trace.Traced(line); }

  VirtualClock clock;
  CountingClock counting{clock};
  VirtualSerialPorts virtual_ports{clock};
  FaultyPorts ports{virtual_ports};
  TablePortList list;
  RecordingView view;
  TraceCapture trace;

 private:
  // Before the layers: a port still open at the end tells its far end of the close.
  std::vector<std::unique_ptr<VirtualPeer>> peers_;
  std::vector<std::unique_ptr<sim::VirtualAdapter>> adapters_;

 public:
  Platform platform{ports, counting, list};
  ProtocolStack stack{platform, view.sink(), trace.sink()};
  MessageLog& log = stack.log;
  Link& link = stack.link;
  Discovery& discovery = stack.discovery;
  Updater& updater = stack.updater;
  Parameters& params = stack.params;

 private:
  std::optional<MainDialog> window_;
};

}  // namespace brivelton::testing
