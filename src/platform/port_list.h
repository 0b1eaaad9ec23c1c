// SPDX-License-Identifier: MIT
#pragma once
// The port-list seam: the system's list of serial port names.
#include <optional>
#include <string>
#include <vector>

namespace brivelton {

struct PortListing {
  enum class Status {
    kOk,
    kCantOpen,   // the list itself is missing (" Can't find comm port registry key")
    kCantQuery,  // the list exists but cannot be counted
  };
  Status status = Status::kOk;
  // One entry per listed port, in the system's order; an entry that could not
  // be read (or is not a name) is empty and is skipped by the search.
  std::vector<std::optional<std::string>> entries;
};

// One thing the system knows of a port ("driver", "ftdi_sio").
struct PortDetail {
  std::string label;
  std::string value;
  bool operator==(const PortDetail&) const = default;
};

// The USB device behind a port, as far as the system knows it: enough to
// tell one adapter's cable from another's wherever it is plugged in. Empty
// fields are unknown. Linux reads sysfs; Windows the device instance
// ("USB\VID_0403&PID_6001\A50285BI": vendor, product, serial number).
struct UsbIdentity {
  std::string vendor;   // four hexadecimal digits, "0403"
  std::string product;  // "6001"
  std::string serial;   // the device's own serial number
  bool operator==(const UsbIdentity&) const = default;
};

class PortList {
 public:
  virtual ~PortList() = default;
  virtual PortListing List() = 0;
  // Names tried in order when the list cannot be read.
  virtual std::vector<std::string> FallbackNames() const = 0;
  // What the system knows of the port `name`, for people telling ports
  // apart; empty when it knows nothing. Never opens the port.
  virtual std::vector<PortDetail> Details(const std::string& /*name*/) const { return {}; }
  // The USB device behind the port `name`; empty where the system can't say.
  // Never opens the port.
  virtual UsbIdentity UsbIdentityOf(const std::string& /*name*/) const { return {}; }
};

// Names given by the caller (the command line's --port, tests). What is
// known of a port comes from `system`, the system's own list, when there is
// one: a port given by name is the same device as when it is listed.
class FixedPortList : public PortList {
 public:
  explicit FixedPortList(std::vector<std::string> names,
                         std::vector<std::string> fallback = {},
                         const PortList* system = nullptr)
      : names_(std::move(names)), fallback_(std::move(fallback)), system_(system) {}
  PortListing List() override {
    PortListing listing;
    for (const auto& name : names_) listing.entries.emplace_back(name);
    return listing;
  }
  std::vector<std::string> FallbackNames() const override { return fallback_; }
  std::vector<PortDetail> Details(const std::string& name) const override {
    return system_ ? system_->Details(name) : std::vector<PortDetail>{};
  }
  UsbIdentity UsbIdentityOf(const std::string& name) const override {
    return system_ ? system_->UsbIdentityOf(name) : UsbIdentity{};
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string> fallback_;
  const PortList* system_ = nullptr;
};

}  // namespace brivelton
