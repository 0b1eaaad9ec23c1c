// SPDX-License-Identifier: MIT
// The dialogs' data against the values the windows were drawn from, written
// out here rather than taken from the product: a wrong id, place or text in
// the templates would otherwise reach every front end unnoticed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/dialog_templates.h"

namespace brivelton::ui {
namespace {

using K = ControlKind;

struct ExpectedControl {
  int id;
  K kind;
  const char* text;  // nullptr: the text is ours to choose
  int x, y, w, h;
  bool visible = true;
  std::vector<std::string> items = {};
};

struct ExpectedDialog {
  const DialogTemplate& (*get)();
  int id;
  const char* title;  // nullptr: ours to choose
  int w, h;
  std::vector<ExpectedControl> controls;
};

const ExpectedDialog kDialogs[] = {
    {MainDialogTemplate, 102, "Brivelton Utility Version", 249, 255,
     {
         {-1, K::kLabel, "Messages:", 15, 7, 102, 12},
         {1004, K::kListBox, "", 15, 19, 147, 217},
         {1001, K::kPushButton, "Check Device", 177, 17, 58, 14},
         {1002, K::kPushButton, "Update Firmware", 177, 37, 58, 14, false},
         {1014, K::kPushButton, "Setting", 177, 58, 58, 14, false},
         {2, K::kPushButton, "Close", 177, 234, 58, 14},
     }},
    {AboutDialogTemplate, 100, nullptr, 217, 55,
     {
         {-1, K::kIcon, "", 11, 17, 20, 20},
         {-1, K::kLabel, "Brivelton Utility", 40, 10, 119, 8},
         {-1, K::kLabel, nullptr, 40, 25, 137, 8},
         {1, K::kDefPushButton, "OK", 178, 7, 32, 14},
     }},
    {UpdateConfirmDialogTemplate, 129, "Firmware Update", 219, 91,
     {
         {-1, K::kLabel, "WARMING:", 8, 9, 78, 10},
         {-1, K::kLabel,
          "Update firmware will clear all paired Bluetooth devices information and parameters.", 7,
          22, 205, 19},
         {-1, K::kLabel, "Please re-pair the device after update.", 7, 45, 148, 11},
         {-1, K::kLabel, "Press \"OK\" to continue.", 7, 68, 132, 16},
         {1046, K::kPushButton, "OK", 162, 55, 50, 14},
         {2, K::kDefPushButton, "Cancel", 162, 71, 50, 13},
     }},
    {SettingsDialogTemplate, 130, "Set Brivelton Parameters", 158, 185,
     {
         {1044, K::kCheckBox, "Caller ID", 8, 6, 102, 14},
         {1030, K::kCheckBox, "Echo Cancel", 8, 17, 80, 16},
         {1031, K::kCheckBox, "Media Audio", 8, 32, 68, 10},
         {1032, K::kCheckBox, "Dialtone after disconnection", 8, 44, 104, 10},
         {1033, K::kCheckBox, "Reverse Tip/Ring after disconnection", 8, 56, 135, 10},
         {1034, K::kCheckBox, "Strong Ringing Voltage", 8, 68, 89, 10},
         {1035, K::kCheckBox, "LED debug display", 8, 80, 75, 10},
         {1051, K::kDropDownList, "", 55, 94, 77, 47, true,
          {"With timeout", "Without timeout", "# key"}},
         {1052, K::kDropDownList, "", 66, 108, 51, 61, true,
          {"Low", "Medium", "High", "Strong", "Strongest"}},
         {1053, K::kDropDownList, "", 90, 122, 43, 55, true, {"30 ms", "50 ms", "70 ms", "100 ms"}},
         {-1, K::kLabel, "Dialing Plan", 9, 96, 46, 13},
         {-1, K::kLabel, "Off-Hook Power", 9, 111, 56, 9},
         {-1, K::kLabel, "Hook Detection Speed", 9, 125, 77, 11},
         {1, K::kDefPushButton, "OK", 7, 163, 50, 14},
         {2, K::kPushButton, "Cancel", 101, 163, 50, 14},
         {1040, K::kPushButton, "Set to Default", 55, 143, 50, 14},
         {1045, K::kPushButton, "Help", 101, 7, 50, 14},
     }},
    {UpdateResultDialogTemplate, 131, "Firmware Update Result", 187, 45,
     {
         {1054, K::kLabel, "Result", 11, 9, 101, 29},
         {1, K::kDefPushButton, "OK", 130, 12, 50, 14},
     }},
    {HelpDialogTemplate, 133, "Help", 185, 166,
     {
         {1036, K::kListBox, "", 7, 7, 171, 137},
         {1, K::kDefPushButton, "OK", 71, 145, 50, 14},
     }},
    // Ours: the places are the ones the screenshots were checked at.
    {AddressDialogTemplate, 134, nullptr, 260, 150,
     {
         {-1, K::kLabel, nullptr, 7, 7, 246, 26},
         {-1, K::kLabel, nullptr, 7, 36, 100, 8},
         {1060, K::kChoiceList, "", 7, 46, 246, 40},
         {-1, K::kLabel, nullptr, 7, 94, 34, 8},
         {1061, K::kEdit, "", 43, 92, 90, 12},
         {1062, K::kLabel, "", 7, 108, 246, 16},
         {1, K::kDefPushButton, "OK", 79, 128, 46, 14},
         {1063, K::kPushButton, "Continue without", 131, 128, 70, 14},
         {2, K::kPushButton, "Cancel", 207, 128, 46, 14},
     }},
};

// The one control of `dialog` that `want` describes: by id, and for the
// unnumbered statics by kind and place.
const ControlTemplate* Match(const DialogTemplate& dialog, const ExpectedControl& want) {
  const ControlTemplate* found = nullptr;
  for (const ControlTemplate& c : dialog.controls) {
    if (c.id != want.id) continue;
    if (want.id == -1 && (c.kind != want.kind || c.x != want.x || c.y != want.y)) continue;
    EXPECT_EQ(found, nullptr) << "control " << want.id << " twice";
    found = &c;
  }
  return found;
}

TEST(DialogTemplates, IdsPlacesAndTextsAreTheGivenOnes) {
  for (const ExpectedDialog& want : kDialogs) {
    const DialogTemplate& t = want.get();
    SCOPED_TRACE("template " + std::to_string(want.id));
    EXPECT_EQ(t.id, want.id);
    if (want.title) {
      EXPECT_STREQ(t.title, want.title);
    }
    EXPECT_EQ(t.w, want.w);
    EXPECT_EQ(t.h, want.h);
    EXPECT_STREQ(t.font, "Arial");
    EXPECT_EQ(t.font_points, 10);
    EXPECT_EQ(t.controls.size(), want.controls.size());
    for (const ExpectedControl& c : want.controls) {
      SCOPED_TRACE("control " + std::to_string(c.id) + " at " + std::to_string(c.x) + "," +
                   std::to_string(c.y));
      const ControlTemplate* got = Match(t, c);
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->kind, c.kind);
      if (c.text) {
        EXPECT_STREQ(got->text, c.text);
      } else {
        EXPECT_STRNE(got->text, "");
      }
      EXPECT_EQ(got->x, c.x);
      EXPECT_EQ(got->y, c.y);
      EXPECT_EQ(got->w, c.w);
      EXPECT_EQ(got->h, c.h);
      EXPECT_EQ(got->visible, c.visible);
      EXPECT_EQ(std::vector<std::string>(got->items.begin(), got->items.end()), c.items);
    }
  }
}

TEST(DialogTemplates, TheOtherResourcesAreTheGivenOnes) {
  EXPECT_EQ(kIconAdapter, 128);
  EXPECT_EQ(kStringAbout, 101);
  EXPECT_STREQ(AboutMenuText(), "&About Brivelton Utility ...");
  EXPECT_EQ(kHelpOffsetX, 150);
  EXPECT_EQ(kHelpOffsetY, 0);
  EXPECT_STREQ(UpdateSucceededText(), "Firmware update done. Please re-pair device.");
  EXPECT_STREQ(UpdateFailedText(), "Update failed. Please unplug the device and try again.");
}

}  // namespace
}  // namespace brivelton::ui
