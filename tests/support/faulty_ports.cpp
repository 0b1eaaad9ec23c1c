// SPDX-License-Identifier: MIT
#include "support/faulty_ports.h"

#include <algorithm>

namespace brivelton::testing {

namespace {
class FaultyDevice : public SerialDevice {
 public:
  FaultyDevice(std::unique_ptr<SerialDevice> inner, FaultyPorts& owner)
      : inner_(std::move(inner)), owner_(owner) {}
  bool GetState(LineSettings& s) override {
    return !owner_.faults.get_state && inner_->GetState(s);
  }
  bool SetState(const LineSettings& s) override {
    if (owner_.faults.set_state || !inner_->SetState(s)) return false;
    baud_ = s.baud;
    return true;
  }
  bool SetTimeouts(const CommTimeouts& t) override {
    if (owner_.faults.timeouts_fail_at_baud != 0 && owner_.faults.timeouts_fail_at_baud == baud_)
      return false;
    return !owner_.faults.set_timeouts && inner_->SetTimeouts(t);
  }
  bool SetEventMask(uint32_t m) override {
    return !owner_.faults.set_event_mask && inner_->SetEventMask(m);
  }
  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    owner_.read_sizes.push_back(buffer.size());
    return inner_->Read(buffer, got);
  }
  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    const auto& limit = owner_.faults.write_limit;
    return inner_->Write(limit ? bytes.first(std::min(*limit, bytes.size())) : bytes, written);
  }
  bool Purge() override {
    ++owner_.purges;
    return inner_->Purge();
  }
  bool Flush() override { return inner_->Flush(); }
  LowLatency RequestLowLatency() override { return inner_->RequestLowLatency(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
  FaultyPorts& owner_;
  uint32_t baud_ = 0;
};
}  // namespace

std::unique_ptr<SerialDevice> FaultyPorts::Open(const std::string& name, OpenError* error) {
  opened.push_back(name);
  const auto busy = faults.busy_after.find(name);
  if (busy != faults.busy_after.end() && Opens(name) > busy->second) {
    if (error) *error = OpenError::kBusy;
    return nullptr;
  }
  const auto& refused = faults.refused;
  if (std::find(refused.begin(), refused.end(), name) != refused.end()) {
    if (error) *error = faults.open_error;
    return nullptr;
  }
  auto device = inner_.Open(name, error);
  if (!device) return nullptr;
  return std::make_unique<FaultyDevice>(std::move(device), *this);
}

}  // namespace brivelton::testing
