// SPDX-License-Identifier: MIT
// How often Update Firmware gets through within its twenty attempts when the
// line drops or damages bytes, over fixed seeds on virtual time; and how often
// a run claimed success for a flash that is not the image and the adapter's
// own identity page, or lost the adapter's address.
//   update_success_rates [SEEDS]     (default 20 seeds per row)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/main_view.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "sim/virtual_serial.h"
#include "support/counting_clock.h"
#include "sim/virtual_adapter.h"
#include "update/identity_page.h"

using namespace brivelton;

namespace {

class QuietView : public MainView {
 public:
  void ShowButton(int, bool) override {}
  void AppendLog(const std::string&) override {}
  bool ConfirmUpdate() override { return true; }
  void ShowUpdateResult(bool success) override { result = success; }
  bool EditSettings(SettingsValues&) override { return false; }
  std::string HowToGiveAddress(const std::string&) override { return {}; }
  bool result = false;
};

struct Outcome {
  bool success;
  int attempts;
  bool wrong_flash;   // success claimed for a flash that is not the image and own page
  bool address_lost;  // neither the adapter nor the utility still has the address
  double virtual_s;
};

Outcome RunOnce(bool drop, double rate, uint32_t seed) {
  VirtualClock clock;
  testing::CountingClock counter(clock);
  VirtualSerialPorts ports(clock);
  FixedPortList list({"COM3"});
  Platform platform{ports, counter, list};
  QuietView view;
  sim::AdapterConfig config;
  config.faults.seed = seed;
  (drop ? config.faults.drop_rate : config.faults.flip_rate) = rate;
  sim::VirtualAdapter adapter(ports, "COM3", config);
  ProtocolStack stack(platform, [&view](const std::string& line) { view.AppendLog(line); });
  MainDialog dialog(view, stack);
  stack.link.state().PortName = "COM3";
  stack.facts.DeviceVersion = 0x1FF;
  stack.link.ReopenFoundPort();
  dialog.OnUpdateFirmware();

  Outcome o{};
  o.success = view.result;
  o.attempts = counter.Count(3000) + 1;
  const auto flash = adapter.model().flash();
  const auto want = sim::FlashAfterUpdate(config.bt_address);
  o.wrong_flash = o.success && !std::equal(want.begin(), want.end(), flash.begin(), flash.end());
  const auto page = flash.subspan(kIdentityPageAddress, kPageSize);
  const auto own_page = BuildIdentityPage(config.bt_address);
  const bool page_kept = std::equal(page.begin(), page.end(), own_page.begin());
  o.address_lost = !page_kept && stack.facts.BtAddress != config.bt_address;
  o.virtual_s = clock.NowUs() / 1e6;
  stack.link.ClosePort();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::printf("%-5s %-9s %9s %14s %12s %12s %12s\n", "fault", "rate", "success",
              "attempts(avg)", "wrong flash", "addr lost", "virtual s");
  for (double rate : {0.01, 0.001, 0.0001, 0.00001, 0.000001}) {
    for (bool drop : {true, false}) {
      int ok = 0, attempts_ok = 0, wrong = 0, lost = 0;
      double seconds = 0;
      for (int s = 1; s <= seeds; ++s) {
        const Outcome o = RunOnce(drop, rate, static_cast<uint32_t>(s));
        if (o.success) ++ok, attempts_ok += o.attempts;
        wrong += o.wrong_flash;
        lost += o.address_lost;
        seconds += o.virtual_s;
      }
      char rate_text[16], avg[16];
      std::snprintf(rate_text, sizeof rate_text, "%g%%", rate * 100);
      if (ok)
        std::snprintf(avg, sizeof avg, "%.1f", double(attempts_ok) / ok);
      else
        std::snprintf(avg, sizeof avg, "-");
      std::printf("%-5s %-9s %6d/%-2d %14s %12d %12d %12.1f\n", drop ? "drop" : "flip", rate_text,
                  ok, seeds, avg, wrong, lost, seconds / seeds);
      std::fflush(stdout);
    }
  }
  return 0;
}
