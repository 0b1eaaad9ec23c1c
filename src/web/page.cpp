// SPDX-License-Identifier: MIT
// The page's front end: the main window's logic over the browser's machine
// (or the simulated adapter), its window drawn by page.js. Calls that wait
// on the user or the browser await promises through Asyncify.
#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/conversation.h"
#include "app/main_dialog.h"
#include "app/protocol_stack.h"
#include "link/bt_address.h"
#include "link/link_state.h"
#include "params/settings_data.h"
#include "platform/platform.h"
#include "platform/web_platform.h"
#include "resources/dialog_templates.h"
#include "resources/firmware_file.h"
#include "resources/firmware_image.h"
#include "web/page_image.h"
#include "web/real_time_sim.h"

EM_JS(void, brv_append_log, (const char* line), { briveltonPage.appendLog(UTF8ToString(line)); });
EM_JS(void, brv_show_button, (int id, int show), { briveltonPage.showButton(id, !!show); });
EM_JS(void, brv_trace, (const char* line), { console.debug(UTF8ToString(line)); });
EM_ASYNC_JS(int, brv_confirm_update, (), { return await briveltonPage.confirmUpdate() ? 1 : 0; });
EM_ASYNC_JS(void, brv_show_result, (int success), { await briveltonPage.showResult(!!success); });
// Ten int32 values in, the user's ten out; the defaults for "Set to Default".
EM_ASYNC_JS(int, brv_edit_settings, (int32_t* values, const int32_t* defaults), {
  const now = Array.from(HEAP32.subarray(values >> 2, (values >> 2) + 10));
  const preset = Array.from(HEAP32.subarray(defaults >> 2, (defaults >> 2) + 10));
  const chosen = await briveltonPage.editSettings(now, preset);
  if (!chosen) return 0;
  HEAP32.set(chosen, values >> 2);
  return 1;
});
// The address dialog: its answer as "given:TEXT", "without" or "cancel", in
// malloc'd memory.
EM_ASYNC_JS(char*, brv_ask_address, (const char* text, const char* candidates,
                                     const char* problem, const char* typed), {
  const answer = await briveltonPage.askAddress(UTF8ToString(text),
      JSON.parse(UTF8ToString(candidates)), UTF8ToString(problem), UTF8ToString(typed));
  const reply = answer.answer === "given" ? `given:${answer.text}` : answer.answer;
  const size = lengthBytesUTF8(reply) + 1;
  const out = _malloc(size);
  stringToUTF8(reply, out, size);
  return out;
});
// What the conversation controller says the window shows around a button's work.
EM_JS(void, brv_conversation, (int state, int shown, int value, const char* text,
                               const char* notice, const char* attempt), {
  briveltonPage.conversation(state, !!shown, value, UTF8ToString(text), UTF8ToString(notice),
                             UTF8ToString(attempt));
});

namespace brivelton::web {

namespace {

void JsonString(std::string& out, const char* text) {
  out += '"';
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  out += '"';
}

std::array<int, 10> ControlIds() {
  std::array<int, 10> ids{};
  std::copy(kCheckBoxIds.begin(), kCheckBoxIds.end(), ids.begin());
  std::copy(kDropDownIds.begin(), kDropDownIds.end(), ids.begin() + kCheckBoxIds.size());
  return ids;
}

std::string AddressQuestion() {
  return "This adapter's identity page holds no address of its own, and no single address "
         "saved in this browser is known to be its. Pick one, type the adapter's address, or "
         "continue without: the adapter then gets the start-up address " +
         FormatBtAddress(kDefaultBtAddress) + ". Cancel erases nothing.";
}

class WebView : public ConversationView {
 public:
  void ShowButton(int id, bool show) override { brv_show_button(id, show); }
  void AppendLog(const std::string& line) override { brv_append_log(line.c_str()); }
  bool ConfirmUpdate() override { return brv_confirm_update() != 0; }
  void ShowUpdateResult(bool success) override { brv_show_result(success); }
  // The ten values travel in control order: the check boxes, then the lists.
  bool EditSettings(SettingsValues& values) override {
    SettingsValues preset = DefaultSettings();
    int32_t now[10], defaults[10];
    int i = 0;
    for (int id : ControlIds()) {
      now[i] = *SettingsMember(values, id);
      defaults[i++] = *SettingsMember(preset, id);
    }
    if (!brv_edit_settings(now, defaults)) return false;
    i = 0;
    for (int id : ControlIds()) *SettingsMember(values, id) = now[i++];
    if (log) TraceSettingsOnOk(values, *log);
    return true;
  }
  // Asked again until the typed address names an adapter, or the user
  // continues without one or cancels.
  AddressReply AskAddress(const std::vector<JournalEntry>& candidates) override {
    std::string list = "[";
    for (const auto& entry : candidates) {
      if (list.size() > 1) list += ',';
      list += "{\"address\":";
      JsonString(list, FormatBtAddress(entry.address).c_str());
      list += ",\"port\":";
      JsonString(list, Shown(entry.port).c_str());
      list += ",\"saved\":";
      JsonString(list, Shown(entry.saved).c_str());
      list += '}';
    }
    list += ']';
    const std::string question = AddressQuestion();
    std::string problem, typed;
    for (;;) {
      char* raw =
          brv_ask_address(question.c_str(), list.c_str(), problem.c_str(), typed.c_str());
      std::string answer = raw ? raw : "cancel";
      std::free(raw);
      if (answer == "without") return {AddressAnswer::kContinueWithout, {}};
      if (!answer.starts_with("given:")) return {AddressAnswer::kCancel, {}};
      typed = answer.substr(6);
      const auto address = ParseBtAddress(typed);
      if (!address) {
        problem = "\"" + typed + "\" is not 12 hexadecimal digits.";
        continue;
      }
      problem = MeaninglessAddressReason(*address);
      if (problem.empty()) return {AddressAnswer::kGiven, *address};
      problem[0] = char(std::toupper(static_cast<unsigned char>(problem[0])));
      problem += '.';
    }
  }
  std::string HowToGiveAddress(const std::string& address) override {
    return "pick " + address + " in the address dialog";
  }
  // A button's work, when the conversation lets one start.
  bool Start() {
    if (!conversation_.Start()) return false;
    Redraw();
    return true;
  }
  void End() {
    conversation_.End();
    Redraw();
  }
  // The page has one thread: the flash's events are on it already.
  void OnWindowThread(const std::function<void()>& call) override { call(); }
  void ReportAttempt(const AttemptEvent& event) override {
    ConversationView::ReportAttempt(event);
    attempt_ = event;
    if (event.kind == AttemptEvent::Kind::kBegins && event.attempt == 1) notice_kept_.clear();
    Redraw();
  }
  void Redraw() override {
    std::string text = conversation_.bar_text();
    std::string notice = conversation_.notice();
    std::string attempt;
    if (attempt_) {
      const AttemptEvent& e = *attempt_;
      AttemptEvent last = e;
      if (e.kind == AttemptEvent::Kind::kGaveUp) {
        last.kind = AttemptEvent::Kind::kFailed;
        last.pause_ms = 0;
      }
      attempt = AttemptLine(last);
      if (e.kind == AttemptEvent::Kind::kBegins && e.attempt > 1)
        attempt = "Attempt " + std::to_string(e.attempt) + " of " + std::to_string(e.of);
      // Between attempts the adapter may have no firmware and the next one
      // is coming: no "Failed" yet, and the warning stays.
      const bool retrying = e.kind == AttemptEvent::Kind::kFailed && e.pause_ms > 0;
      if (retrying && text == "Failed") text = "Trying again";
      if (retrying && e.erased && notice.empty()) notice = notice_kept_;
      if (e.kind == AttemptEvent::Kind::kGaveUp && e.erased)
        attempt += " The adapter has no working firmware now; its address is kept in this "
                   "browser. Press Update Firmware again.";
    }
    if (conversation_.state() == Conversation::State::kFlashing && !notice.empty())
      notice_kept_ = notice;
    if (conversation_.idle()) attempt_.reset();
    brv_conversation(int(conversation_.state()), conversation_.bar_shown(),
                     conversation_.bar_value(), text.c_str(), notice.c_str(), attempt.c_str());
  }

  MessageLog* log = nullptr;

 private:
  std::optional<AttemptEvent> attempt_;
  // The warning beside the bar while the flash ran, kept through the pause
  // before the next attempt.
  std::string notice_kept_;
};

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

const char* Keep(std::string text) {
  last_text = std::move(text);
  return last_text.c_str();
}

const char* KindName(ui::ControlKind kind) {
  switch (kind) {
    case ui::ControlKind::kLabel: return "label";
    case ui::ControlKind::kIcon: return "icon";
    case ui::ControlKind::kListBox: return "list";
    case ui::ControlKind::kPushButton: return "button";
    case ui::ControlKind::kDefPushButton: return "default";
    case ui::ControlKind::kCheckBox: return "check";
    case ui::ControlKind::kDropDownList: return "select";
    case ui::ControlKind::kEdit: return "edit";
    case ui::ControlKind::kChoiceList: return "choices";
  }
  return "label";
}

void JsonDialog(std::string& out, const char* name, const ui::DialogTemplate& d) {
  JsonString(out, name);
  out += ":{\"title\":";
  JsonString(out, d.title);
  out += ",\"w\":" + std::to_string(d.w) + ",\"h\":" + std::to_string(d.h) + ",\"font\":";
  JsonString(out, d.font);
  out += ",\"points\":" + std::to_string(d.font_points) + ",\"controls\":[";
  bool first = true;
  for (const auto& c : d.controls) {
    if (!first) out += ',';
    first = false;
    out += "{\"id\":" + std::to_string(c.id) + ",\"kind\":\"" + KindName(c.kind) +
           "\",\"text\":";
    JsonString(out, c.text);
    out += ",\"x\":" + std::to_string(c.x) + ",\"y\":" + std::to_string(c.y) +
           ",\"w\":" + std::to_string(c.w) + ",\"h\":" + std::to_string(c.h) +
           ",\"visible\":" + (c.visible ? "true" : "false") + ",\"items\":[";
    for (size_t i = 0; i < c.items.size(); ++i) {
      if (i) out += ',';
      JsonString(out, c.items[i]);
    }
    out += "]}";
  }
  out += "]}";
}

}  // namespace

}  // namespace brivelton::web

using brivelton::web::ThePage;

extern "C" {

// The dialogs and texts page.js lays out, as JSON.
EMSCRIPTEN_KEEPALIVE const char* web_templates() {
  namespace ui = brivelton::ui;
  std::string out = "{\"dialogs\":{";
  const std::pair<const char*, const ui::DialogTemplate&> dialogs[] = {
      {"main", ui::MainDialogTemplate()},         {"about", ui::AboutDialogTemplate()},
      {"confirm", ui::UpdateConfirmDialogTemplate()}, {"settings", ui::SettingsDialogTemplate()},
      {"result", ui::UpdateResultDialogTemplate()}, {"help", ui::HelpDialogTemplate()}};
  for (const auto& [name, dialog] : dialogs) {
    if (name != dialogs[0].first) out += ',';
    brivelton::web::JsonDialog(out, name, dialog);
  }
  out += "},\"help\":[";
  bool first = true;
  for (const char* line : brivelton::SettingsHelpLines()) {
    if (!first) out += ',';
    first = false;
    brivelton::web::JsonString(out, line);
  }
  out += "],\"helpOffset\":[" + std::to_string(ui::kHelpOffsetX) + "," +
         std::to_string(ui::kHelpOffsetY) + "],\"succeeded\":";
  brivelton::web::JsonString(out, ui::UpdateSucceededText());
  out += ",\"failed\":";
  brivelton::web::JsonString(out, ui::UpdateFailedText());
  out += ",\"aboutMenu\":";
  brivelton::web::JsonString(out, ui::AboutMenuText());
  out += "}";
  return brivelton::web::Keep(std::move(out));
}

// The image beside the page, checked; "" when taken, else why not. The page
// starts only once it is taken.
EMSCRIPTEN_KEEPALIVE const char* web_take_page_image(const uint8_t* bytes, int size) {
  std::string error;
  if (!brivelton::web::InstallPageImage(std::span(bytes, size_t(size)), error))
    return brivelton::web::Keep(error);
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
  if (!bytes) {
    page.use_user_image = false;
    page.user_image.reset();
    page.Rebuild();
    return brivelton::web::Keep("");
  }
  std::string error;
  std::unique_ptr<brivelton::FirmwareImage> image;
  if (!brivelton::web::CheckUserImage(file_name, std::span(bytes, size_t(size)), version, image,
                                      error))
    return brivelton::web::Keep(error);
  page.user_image = std::move(image);
  page.use_user_image = true;
  page.Rebuild();
  return brivelton::web::Keep("");
}

// The trace on the console from the next session on (the page's ?trace).
EMSCRIPTEN_KEEPALIVE void web_trace(int on) {
  brivelton::web::tracing = on != 0;
  ThePage().Rebuild();
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

EMSCRIPTEN_KEEPALIVE int web_sim_stop() {
  auto& page = ThePage();
  page.session.reset();
  page.sim.reset();
  page.Rebuild();
  return 0;
}

}  // extern "C"
