// SPDX-License-Identifier: MIT
#pragma once
// The dialogs as data: ids, kinds, texts and places in dialog units, kept once
// for every front end that draws them.
#include <span>

namespace brivelton::ui {

inline constexpr int kIdStatic = -1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

inline constexpr int kMainTemplate = 102;
inline constexpr int kAboutTemplate = 100;
inline constexpr int kUpdateConfirmTemplate = 129;
inline constexpr int kSettingsTemplate = 130;
inline constexpr int kUpdateResultTemplate = 131;
inline constexpr int kHelpTemplate = 133;
inline constexpr int kAddressTemplate = 134;

inline constexpr int kIconAdapter = 128;
inline constexpr int kStringAbout = 101;
inline constexpr unsigned kAboutCommand = 0x0010;

// Controls that the procedures and front ends refer to.
inline constexpr int kIdUpdateOk = 1046;
inline constexpr int kIdResultText = 1054;
inline constexpr int kIdSetDefault = 1040;
inline constexpr int kIdSettingsHelp = 1045;
inline constexpr int kIdHelpList = 1036;
inline constexpr int kIdAddressList = 1060;
inline constexpr int kIdAddressEdit = 1061;
inline constexpr int kIdAddressError = 1062;
inline constexpr int kIdContinueWithout = 1063;
// Added beside the templates' own controls.
inline constexpr int kIdAboutFirmware = 1070;
inline constexpr int kIdPlaceholderWarning = 1071;

// The help dialog opens at this place, in dialog units, relative to its owner.
inline constexpr int kHelpOffsetX = 150;
inline constexpr int kHelpOffsetY = 0;

enum class ControlKind {
  kLabel,
  kIcon,
  kListBox,
  kPushButton,
  kDefPushButton,
  kCheckBox,
  kDropDownList,
  kEdit,        // one line of text
  kChoiceList,  // a list box whose lines the user picks from
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, w, h;
  bool visible = true;
  std::span<const char* const> items = {};  // a drop-down list's initial data
};

struct DialogTemplate {
  int id;
  const char* title;
  int w, h;
  std::span<const ControlTemplate> controls;
  const char* font = "Arial";
  int font_points = 10;
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
const DialogTemplate& UpdateConfirmDialogTemplate();
const DialogTemplate& SettingsDialogTemplate();
const DialogTemplate& UpdateResultDialogTemplate();
const DialogTemplate& HelpDialogTemplate();
// Asked before an update erases a page that has lost its address.
const DialogTemplate& AddressDialogTemplate();

// The control of `id` in `dialog`, or null.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

// String resource 101: the About entry of the system menu.
const char* AboutMenuText();
// The About box's two lines: the second is the program's version.
const char* AboutTitle();
const char* AboutSecondLine();
// Under them, the line that names the firmware an update writes.
const ControlTemplate& AboutFirmwarePlace();
// In the update warning beside "WARMING:", what a placeholder image is.
const ControlTemplate& PlaceholderWarningPlace();

const char* UpdateSucceededText();
const char* UpdateFailedText();

}  // namespace brivelton::ui
