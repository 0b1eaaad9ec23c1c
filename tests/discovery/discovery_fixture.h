#pragma once
// A main window on virtual ports with a port list the test sets up.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/main_dialog.h"
#include "platform/virtual_serial.h"
#include "support/recording_view.h"

namespace brivelton::testing {

// The list a test hands the search: any status, unreadable entries included.
class TablePortList : public PortList {
 public:
  PortListing List() override { return listing; }
  std::vector<std::string> FallbackNames() const override { return fallback; }

  PortListing listing;
  std::vector<std::string> fallback;
};

// Remembers every open attempt, and refuses the ports in `denied` as the
// system does a port the user has no rights to.
class GuardedPorts : public SerialPorts {
 public:
  explicit GuardedPorts(SerialPorts& inner) : inner_(inner) {}
  std::unique_ptr<SerialDevice> Open(const std::string& name,
                                     OpenError* error) override {
    attempts.push_back(name);
    if (denied.count(name)) {
      if (error) *error = OpenError::kPermission;
      return nullptr;
    }
    return inner_.Open(name, error);
  }

  std::vector<std::string> attempts;
  std::set<std::string> denied;

 private:
  SerialPorts& inner_;
};

inline std::vector<std::string> ComNames(int first, int last) {
  std::vector<std::string> names;
  for (int i = first; i <= last; ++i) names.push_back("COM" + std::to_string(i));
  return names;
}

class DiscoveryFixture {
 public:
  DiscoveryFixture() { list.fallback = ComNames(0, 24); }

  void SetPorts(std::vector<std::optional<std::string>> entries) {
    list.listing.status = PortListing::Status::kOk;
    list.listing.entries = std::move(entries);
  }

  // Far ends live as long as the window that may still hold their port.
  template <class Peer, class... Args>
  Peer& Attach(Args&&... args) {
    auto peer = std::make_unique<Peer>(std::forward<Args>(args)...);
    Peer& ref = *peer;
    peers.push_back(std::move(peer));
    return ref;
  }

  VirtualClock clock;
  VirtualSerialPorts ports{clock};
  std::vector<std::unique_ptr<VirtualPeer>> peers;
  GuardedPorts guarded{ports};
  TablePortList list;
  RecordingView view;
  Platform platform{guarded, clock, list};
  MainDialog dialog{view, platform};
};

}  // namespace brivelton::testing
