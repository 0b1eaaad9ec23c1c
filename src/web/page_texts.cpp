// SPDX-License-Identifier: MIT
#include "web/page_texts.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "params/settings_data.h"
#include "resources/dialog_templates.h"

namespace brivelton::web {

namespace {

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

nlohmann::json Dialog(const ui::DialogTemplate& d) {
  nlohmann::json controls = nlohmann::json::array();
  for (const auto& c : d.controls) {
    nlohmann::json items = nlohmann::json::array();
    for (const char* item : c.items) items.push_back(item);
    controls.push_back({{"id", c.id}, {"kind", KindName(c.kind)}, {"text", c.text},
                        {"x", c.x}, {"y", c.y}, {"w", c.w}, {"h", c.h},
                        {"visible", c.visible}, {"items", std::move(items)}});
  }
  return {{"title", d.title}, {"w", d.w}, {"h", d.h}, {"font", d.font},
          {"points", d.font_points}, {"controls", std::move(controls)}};
}

}  // namespace

std::string PageTexts() {
  nlohmann::json help = nlohmann::json::array();
  for (const char* line : SettingsHelpLines()) help.push_back(line);
  const nlohmann::json texts = {
      {"dialogs",
       {{"main", Dialog(ui::MainDialogTemplate())},
        {"about", Dialog(ui::AboutDialogTemplate())},
        {"confirm", Dialog(ui::UpdateConfirmDialogTemplate())},
        {"settings", Dialog(ui::SettingsDialogTemplate())},
        {"result", Dialog(ui::UpdateResultDialogTemplate())},
        {"help", Dialog(ui::HelpDialogTemplate())}}},
      {"help", std::move(help)},
      {"helpOffset", {ui::kHelpOffsetX, ui::kHelpOffsetY}},
      {"succeeded", ui::UpdateSucceededText()},
      {"failed", ui::UpdateFailedText()},
      {"aboutMenu", ui::AboutMenuText()},
  };
  return texts.dump();
}

}  // namespace brivelton::web
