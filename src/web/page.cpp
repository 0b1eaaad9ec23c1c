// SPDX-License-Identifier: MIT
// The page's front end: the main window's logic over the browser's machine
// (or the simulated adapter), its window drawn by page.js. Calls that wait
// on the user or the browser await promises through Asyncify.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "app/main_dialog.h"
#include "app/protocol_stack.h"
#include "link/bt_address.h"
#include "link/link_state.h"
#include "platform/platform.h"
#include "platform/web/web_platform.h"
#include "resources/firmware_file.h"
#include "resources/firmware_image.h"
#include "web/page_image.h"
#include "web/page_texts.h"
#include "web/page_view.h"
#include "web/real_time_sim.h"

EM_JS(void, brv_trace, (const char* line), { console.debug(UTF8ToString(line)); });

namespace brivelton::web {

namespace {

bool tracing = false;

// The developer's trace goes to the console, when asked for: unformatted
// otherwise, as in the programs without --verbose.
LineSink TraceSink() {
  if (!tracing) return {};
  return [](const std::string& line) { brv_trace(line.c_str()); };
}

// Everything the page's window runs on; rebuilt when the machine behind it
// changes (the simulated adapter, another image).
struct Session {
  Session(Platform platform, const FirmwareImage& image, WebView& view)
      : platform_(platform),
        stack(platform_, [&view](const std::string& line) { view.AppendLog(line); },
              TraceSink(), image),
        dialog(view, stack) {
    view.log = &stack.log;
    view.updater = &stack.updater;
  }
  Platform platform_;
  ProtocolStack stack;
  MainDialog dialog;
};

struct Page {
  WebSerialPorts ports;
  WebPortList port_list;
  WebClock clock;
  WebStateStore store;
  WebView view;
  std::unique_ptr<FirmwareImage> user_image;
  bool use_user_image = false;
  std::unique_ptr<RealTimeSim> sim;
  std::unique_ptr<Session> session;

  const FirmwareImage& Image() const {
    return use_user_image && user_image ? *user_image : BuiltInImage();
  }

  void Rebuild() {
    session.reset();
    view.ShowButton(kIdUpdateFirmware, false);
    view.ShowButton(kIdSetting, false);
    Platform platform = sim ? Platform{sim->ports(), sim->clock(), sim->port_list(), &store}
                            : Platform{ports, clock, port_list, &store};
    session = std::make_unique<Session>(platform, Image(), view);
  }
};

Page& ThePage() {
  static Page page;
  return page;
}

std::string last_text;

// A button's work waits on the browser with the session's objects on its
// stack: until it ends, nothing that rebuilds the session may run.
constexpr const char* kWorkRunning =
    "Not now: wait until Check Device, Update Firmware or Setting has finished.";

const char* Keep(std::string text) {
  last_text = std::move(text);
  return last_text.c_str();
}

}  // namespace

}  // namespace brivelton::web

using brivelton::web::ThePage;

extern "C" {

// The dialogs and texts page.js lays out, as JSON.
EMSCRIPTEN_KEEPALIVE const char* web_templates() {
  return brivelton::web::Keep(brivelton::web::PageTexts());
}

// The image beside the page, checked; "" when taken, else why not. The page
// starts only once it is taken.
EMSCRIPTEN_KEEPALIVE const char* web_take_page_image(const uint8_t* bytes, int size) {
  if (auto taken = brivelton::web::InstallPageImage(std::span(bytes, size_t(size))); !taken)
    return brivelton::web::Keep(taken.error().text());
  auto& page = ThePage();
  page.Rebuild();
  return brivelton::web::Keep("");
}

EMSCRIPTEN_KEEPALIVE const char* web_image_version() {
  return brivelton::web::Keep(brivelton::VersionText(brivelton::BuiltInImage().version()));
}

// What the image an update writes is, when it is the build's placeholder;
// "" for a real one.
EMSCRIPTEN_KEEPALIVE const char* web_image_note() {
  return ThePage().Image().placeholder() ? brivelton::kPlaceholderNote : "";
}

// The user's own image under the rules of --image; "" when taken (and used
// from now on), else why not. A null `bytes` goes back to the page's image.
EMSCRIPTEN_KEEPALIVE const char* web_take_user_image(const char* file_name, const uint8_t* bytes,
                                                   int size, const char* version) {
  auto& page = ThePage();
  if (page.view.working()) return brivelton::web::Keep(brivelton::web::kWorkRunning);
  if (!bytes) {
    page.use_user_image = false;
    page.user_image.reset();
    page.Rebuild();
    return brivelton::web::Keep("");
  }
  auto image = brivelton::web::CheckUserImage(file_name, std::span(bytes, size_t(size)), version);
  if (!image) return brivelton::web::Keep(image.error().text());
  page.user_image = std::move(*image);
  page.use_user_image = true;
  page.Rebuild();
  return brivelton::web::Keep("");
}

// The trace on the console from the next session on (the page's ?trace);
// 0 once on, 1 while a button's work runs.
EMSCRIPTEN_KEEPALIVE int web_trace(int on) {
  if (ThePage().view.working()) return 1;
  brivelton::web::tracing = on != 0;
  ThePage().Rebuild();
  return 0;
}

// One button of the main window, to its end (dialogs included).
EMSCRIPTEN_KEEPALIVE void web_button(int id) {
  auto& page = ThePage();
  if (!page.session || !brivelton::MainDialog::HasHandler(id)) return;
  if (!page.view.Start()) return;
  page.session->dialog.OnButton(id);
  page.view.End();
}

// The simulated adapter from its start state (as brivelton-sim's --version,
// --blank-identity, --address); "" when it runs, else why not.
// `flash`, when given, is the whole flash it starts from (an earlier
// simulated adapter's, kept across a reload of the page).
EMSCRIPTEN_KEEPALIVE const char* web_sim_start(const char* version, int blank,
                                               const char* address, const uint8_t* flash,
                                               int flash_size) {
  if (ThePage().view.working()) return brivelton::web::Keep(brivelton::web::kWorkRunning);
  brivelton::sim::AdapterConfig config;
  const auto parsed = brivelton::ParseVersionText(version);
  if (!parsed)
    return brivelton::web::Keep(std::string("The firmware version '") + version +
                                "' is not one to three hexadecimal digits.");
  const auto bt = brivelton::ParseBtAddress(address);
  if (!bt)
    return brivelton::web::Keep(std::string("The address '") + address +
                                "' is not six hexadecimal bytes.");
  const auto& image = brivelton::BuiltInImage();
  config.version = *parsed;
  config.blank_identity = blank != 0;
  config.bt_address = *bt;
  config.image.assign(image.bytes().begin(), image.bytes().end());
  config.image_version = image.version();
  if (flash && flash_size > 0) {
    config.flash.assign(flash, flash + flash_size);
  } else if (*parsed == image.version()) {
    // An adapter "at" the image's version carries the image itself.
    config.flash = brivelton::sim::FlashAfterUpdate(*bt);
    if (config.blank_identity)
      std::fill(config.flash.begin() + brivelton::kIdentityPageAddress,
                config.flash.begin() + brivelton::kIdentityPageAddress + brivelton::kPageSize, 0xFF);
  }
  auto& page = ThePage();
  page.session.reset();
  page.sim = std::make_unique<brivelton::web::RealTimeSim>(std::move(config), page.clock);
  page.Rebuild();
  return brivelton::web::Keep("");
}

// What the simulated adapter is now, for the panel: its version as "/v"
// would report it, and the address its identity page carries ("" when the
// page has no name, as an update sees it). "" when none runs.
EMSCRIPTEN_KEEPALIVE const char* web_sim_state() {
  auto& page = ThePage();
  if (!page.sim) return brivelton::web::Keep("");
  const auto& model = page.sim->model();
  const auto flash = model.flash();
  const auto identity = flash.subspan(brivelton::kIdentityPageAddress, 8);
  std::string address;
  if (identity[6] == 'B' && identity[7] == 'r') {
    brivelton::BtAddressBytes bytes;
    std::copy_n(identity.begin(), bytes.size(), bytes.begin());
    address = brivelton::FormatBtAddress(bytes);
  }
  char version[16];
  std::snprintf(version, sizeof version, "%03X", unsigned(model.version()));
  return brivelton::web::Keep(std::string(version) + "\n" + address);
}

// The simulated adapter's whole flash, for the page to keep across a reload:
// its bytes stay where they are until the adapter changes; null when none runs.
EMSCRIPTEN_KEEPALIVE const uint8_t* web_sim_flash(int* size) {
  auto& page = ThePage();
  *size = 0;
  if (!page.sim) return nullptr;
  const auto flash = page.sim->model().flash();
  *size = int(flash.size());
  return flash.data();
}

// 0 once stopped, 1 while a button's work runs.
EMSCRIPTEN_KEEPALIVE int web_sim_stop() {
  auto& page = ThePage();
  if (page.view.working()) return 1;
  page.session.reset();
  page.sim.reset();
  page.Rebuild();
  return 0;
}

}  // extern "C"
