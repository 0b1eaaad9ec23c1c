// SPDX-License-Identifier: MIT
#include "cli/port_errors.h"

namespace brivelton::cli {

namespace {

// Passes everything through; a line setting the port refused is reported.
class ReportingDevice : public SerialDevice {
 public:
  ReportingDevice(std::unique_ptr<SerialDevice> inner, PortErrorLines& lines, std::string name)
      : inner_(std::move(inner)), lines_(lines), name_(std::move(name)) {}
  bool GetState(LineSettings& settings) override { return inner_->GetState(settings); }
  bool SetState(const LineSettings& settings) override {
    if (inner_->SetState(settings)) return true;
    // A port that is gone (unplugged) fails both; the log says that already.
    LineSettings now;
    if (inner_->GetState(now))
      lines_.Say(name_, "the port refused the speed " + std::to_string(settings.baud) + " baud");
    return false;
  }
  bool SetTimeouts(const CommTimeouts& timeouts) override { return inner_->SetTimeouts(timeouts); }
  bool SetEventMask(uint32_t mask) override { return inner_->SetEventMask(mask); }
  bool Read(std::span<uint8_t> buffer, size_t& got) override { return inner_->Read(buffer, got); }
  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    return inner_->Write(bytes, written);
  }
  bool Purge() override { return inner_->Purge(); }
  bool Flush() override { return inner_->Flush(); }
  LowLatency RequestLowLatency() override { return inner_->RequestLowLatency(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
  PortErrorLines& lines_;
  std::string name_;
};

}  // namespace

std::string OpenErrorWords(OpenError error, const std::string& group_to_join) {
  switch (error) {
    case OpenError::kNotFound:
      return "no such device";
    case OpenError::kBusy:
      return "held by another program";
    case OpenError::kPermission:
      if (group_to_join.empty()) return "permission denied";
      return "permission denied (join the group '" + group_to_join +
             "': sudo usermod -aG " + group_to_join + " $USER, then log in again)";
    case OpenError::kOther:
    case OpenError::kNone:
      break;
  }
  return "not a serial port this system can open";
}

void PortErrorLines::Say(const std::string& port, const std::string& reason) {
  if (!said_.insert(port + '\n' + reason).second) return;
  err_ << "brivelton: " << port << ": " << reason << '\n' << std::flush;
}

std::unique_ptr<SerialDevice> PortErrorLines::Open(const std::string& name, OpenError* error) {
  OpenError why = OpenError::kNone;
  auto device = inner_.Open(name, &why);
  if (error) *error = why;
  if (!device) {
    Say(name, OpenErrorWords(why, why == OpenError::kPermission ? inner_.GroupToJoin(name) : ""));
    return nullptr;
  }
  return std::make_unique<ReportingDevice>(std::move(device), *this, name);
}

}  // namespace brivelton::cli
