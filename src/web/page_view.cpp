// SPDX-License-Identifier: MIT
#include "web/page_view.h"

#include <emscripten.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>

#include "app/address_form.h"
#include "link/bt_address.h"
#include "params/settings_data.h"

EM_JS(void, brv_append_log, (const char* line), { briveltonPage.appendLog(UTF8ToString(line)); });
EM_JS(void, brv_show_button, (int id, int show), { briveltonPage.showButton(id, !!show); });
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
  return stringToNewUTF8(reply);
});
// What the conversation controller says the window shows around a button's work.
EM_JS(void, brv_conversation, (int state, int shown, int value, const char* text,
                               const char* notice, const char* attempt), {
  briveltonPage.conversation(state, !!shown, value, UTF8ToString(text), UTF8ToString(notice),
                             UTF8ToString(attempt));
});

namespace brivelton::web {

namespace {

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

}  // namespace

void WebView::ShowButton(int id, bool show) { brv_show_button(id, show); }
void WebView::AppendLog(const std::string& line) { brv_append_log(line.c_str()); }
bool WebView::ConfirmUpdate() { return brv_confirm_update() != 0; }
void WebView::ShowUpdateResult(bool success) { brv_show_result(success); }

// The ten values travel in control order: the check boxes, then the lists.
bool WebView::EditSettings(SettingsValues& values) {
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
AddressReply WebView::AskAddress(const std::vector<JournalEntry>& candidates) {
  nlohmann::json shown = nlohmann::json::array();
  for (const auto& entry : candidates)
    shown.push_back({{"address", FormatBtAddress(entry.address)},
                     {"port", Shown(entry.port)},
                     {"saved", Shown(entry.saved)}});
  // Planted storage may hold any bytes: what is no UTF-8 shows replaced.
  const std::string list = shown.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
    // As the windows take it: dashes or spaces between the bytes too.
    const auto accepted = AcceptTypedAddress(typed);
    if (accepted) return *accepted;
    problem = accepted.error().text();
  }
}

std::string WebView::HowToGiveAddress(const std::string& address) {
  return "pick " + address + " in the address dialog";
}

bool WebView::Start() {
  if (!conversation_.Start()) return false;
  Redraw();
  return true;
}

void WebView::End() {
  conversation_.End();
  Redraw();
}

bool WebView::AddressSaved() { return updater && updater->address_kept(); }

void WebView::Redraw() {
  // The bar's words and the attempt's account apart: the page gives the
  // account a line of its own under the bar.
  brv_conversation(int(conversation_.state()), conversation_.bar_shown(),
                   conversation_.bar_value(), conversation_.stage_text().c_str(),
                   conversation_.notice().c_str(), conversation_.attempt_text().c_str());
}

}  // namespace brivelton::web
