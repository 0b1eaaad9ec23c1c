// SPDX-License-Identifier: MIT
#pragma once
// The browser as the machine (Emscripten build only): serial ports through
// Web Serial, the ports the page was granted, sleeps that yield to the page,
// and IndexedDB for the journal. Each call that waits on the browser awaits a
// promise through Asyncify, so the core above keeps its blocking design.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/port_list.h"
#include "platform/serial_device.h"
#include "platform/state_store.h"

namespace brivelton {

// Opens the ports of the last listing by their names ("USB 0403:6001").
class WebSerialPorts : public SerialPorts {
 public:
  std::unique_ptr<SerialDevice> Open(const std::string& name, OpenError* error) override;
};

// navigator.serial.getPorts(), in its order; nothing when the browser has no
// Web Serial.
class WebPortList : public PortList {
 public:
  PortListing List() override;
  std::vector<std::string> FallbackNames() const override { return {}; }
  std::vector<PortDetail> Details(const std::string& name) const override;
  // The vendor and product the browser reports; Web Serial tells no serial
  // number.
  UsbIdentity UsbIdentityOf(const std::string& name) const override;
};

class WebClock : public Clock {
 public:
  void Sleep(uint32_t ms) override;
  uint64_t NowMs() override;
  uint64_t NowUs();
};

// One IndexedDB object store, a record per name; writes resolve once the
// transaction is committed.
class WebStateStore : public StateStore {
 public:
  bool Write(const std::string& name, const std::string& content, std::string& error) override;
  std::optional<std::string> Read(const std::string& name, std::string& refused) override;
  bool Remove(const std::string& name, std::string& why) override;
  std::vector<std::string> List() override;
  std::string PathOf(const std::string& name) const override;
};

}  // namespace brivelton
