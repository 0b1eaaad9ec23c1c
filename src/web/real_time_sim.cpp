// SPDX-License-Identifier: MIT
#include "web/real_time_sim.h"

namespace brivelton::web {

namespace {

// Browsers hold nested timers to 4 ms or more: the simulated line may run
// this far ahead of the page's clock before a read waits for it.
constexpr uint64_t kSlackMs = 4;

}  // namespace

class RealTimeSim::PacedClock : public Clock {
 public:
  explicit PacedClock(RealTimeSim& sim) : sim_(sim) {}
  void Sleep(uint32_t ms) override {
    sim_.CatchUp();
    sim_.virtual_clock_.Sleep(ms);
    sim_.Pace();
  }
  uint64_t NowMs() override {
    sim_.CatchUp();
    return sim_.virtual_clock_.NowMs();
  }

 private:
  RealTimeSim& sim_;
};

namespace {

class PacedDevice : public SerialDevice {
 public:
  PacedDevice(std::unique_ptr<SerialDevice> inner, RealTimeSim& sim)
      : inner_(std::move(inner)), sim_(sim) {}
  bool GetState(LineSettings& settings) override { return inner_->GetState(settings); }
  bool SetState(const LineSettings& settings) override {
    return Paced([&] { return inner_->SetState(settings); });
  }
  bool SetTimeouts(const CommTimeouts& timeouts) override { return inner_->SetTimeouts(timeouts); }
  bool SetEventMask(uint32_t mask) override { return inner_->SetEventMask(mask); }
  bool Read(std::span<uint8_t> buffer, size_t& got) override {
    return Paced([&] { return inner_->Read(buffer, got); });
  }
  bool Write(std::span<const uint8_t> bytes, size_t& written) override {
    return Paced([&] { return inner_->Write(bytes, written); });
  }
  bool Purge() override { return Paced([&] { return inner_->Purge(); }); }
  bool Flush() override { return Paced([&] { return inner_->Flush(); }); }
  LowLatency RequestLowLatency() override { return inner_->RequestLowLatency(); }

 private:
  template <typename F>
  bool Paced(F step) {
    sim_.CatchUp();
    const bool ok = step();
    sim_.Pace();
    return ok;
  }

  std::unique_ptr<SerialDevice> inner_;
  RealTimeSim& sim_;
};

}  // namespace

class RealTimeSim::Ports : public SerialPorts {
 public:
  explicit Ports(RealTimeSim& sim) : sim_(sim) {}
  std::unique_ptr<SerialDevice> Open(const std::string& name, OpenError* error) override {
    sim_.CatchUp();
    auto device = sim_.virtual_ports_.Open(name, error);
    if (!device) return nullptr;
    return std::make_unique<PacedDevice>(std::move(device), sim_);
  }

 private:
  RealTimeSim& sim_;
};

RealTimeSim::RealTimeSim(sim::AdapterConfig config, Clock& real)
    : real_(real),
      origin_ms_(real.NowMs()),
      adapter_(std::make_unique<sim::VirtualAdapter>(virtual_ports_, kSimulatedPortName,
                                                     std::move(config))),
      ports_(std::make_unique<Ports>(*this)),
      clock_(std::make_unique<PacedClock>(*this)) {}

RealTimeSim::~RealTimeSim() = default;

SerialPorts& RealTimeSim::ports() { return *ports_; }
Clock& RealTimeSim::clock() { return *clock_; }

void RealTimeSim::CatchUp() {
  virtual_clock_.AdvanceTo((real_.NowMs() - origin_ms_) * 1000);
}

void RealTimeSim::Pace() {
  for (;;) {
    const uint64_t real_ms = real_.NowMs() - origin_ms_;
    const uint64_t virtual_ms = virtual_clock_.NowMs();
    if (virtual_ms <= real_ms + kSlackMs) return;
    real_.Sleep(uint32_t(virtual_ms - real_ms));
  }
}

}  // namespace brivelton::web
