// SPDX-License-Identifier: MIT
#include "resources/dialog_templates.h"

#include <array>

#include "resources/resource_strings.h"

namespace brivelton::ui {

namespace {

using K = ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {kIdStatic, K::kLabel, "Messages:", 15, 7, 102, 12},
    {1004, K::kListBox, "", 15, 19, 147, 217},
    {1001, K::kPushButton, "Check Device", 177, 17, 58, 14},
    {1002, K::kPushButton, "Update Firmware", 177, 37, 58, 14, false},
    {1014, K::kPushButton, "Setting", 177, 58, 58, 14, false},
    {kIdCancel, K::kPushButton, "Close", 177, 234, 58, 14},
};

constexpr ControlTemplate kAboutControls[] = {
    {kIdStatic, K::kIcon, "", 11, 17, 20, 20},
    {kIdStatic, K::kLabel, "Brivelton Utility", 40, 10, 119, 8},
    {kIdStatic, K::kLabel, "Version " BRIVELTON_PROGRAM_VERSION, 40, 25, 137, 8},
    {kIdOk, K::kDefPushButton, "OK", 178, 7, 32, 14},
};

constexpr ControlTemplate kUpdateConfirmControls[] = {
    {kIdStatic, K::kLabel, "WARMING:", 8, 9, 78, 10},
    {kIdStatic, K::kLabel,
     "Update firmware will clear all paired Bluetooth devices information and parameters.",
     7, 22, 205, 19},
    {kIdStatic, K::kLabel, "Please re-pair the device after update.", 7, 45, 148, 11},
    {kIdStatic, K::kLabel, "Press \"OK\" to continue.", 7, 68, 132, 16},
    {kIdUpdateOk, K::kPushButton, "OK", 162, 55, 50, 14},
    {kIdCancel, K::kDefPushButton, "Cancel", 162, 71, 50, 13},
};

constexpr const char* kDialPlanItems[] = {"With timeout", "Without timeout", "# key"};
constexpr const char* kOffHookItems[] = {"Low", "Medium", "High", "Strong", "Strongest"};
constexpr const char* kHookSpeedItems[] = {"30 ms", "50 ms", "70 ms", "100 ms"};

constexpr ControlTemplate kSettingsControls[] = {
    {1044, K::kCheckBox, "Caller ID", 8, 6, 102, 14},
    {1030, K::kCheckBox, "Echo Cancel", 8, 17, 80, 16},
    {1031, K::kCheckBox, "Media Audio", 8, 32, 68, 10},
    {1032, K::kCheckBox, "Dialtone after disconnection", 8, 44, 104, 10},
    {1033, K::kCheckBox, "Reverse Tip/Ring after disconnection", 8, 56, 135, 10},
    {1034, K::kCheckBox, "Strong Ringing Voltage", 8, 68, 89, 10},
    {1035, K::kCheckBox, "LED debug display", 8, 80, 75, 10},
    {kIdStatic, K::kLabel, "Dialing Plan", 9, 96, 46, 13},
    {1051, K::kDropDownList, "", 55, 94, 77, 47, true, kDialPlanItems},
    {kIdStatic, K::kLabel, "Off-Hook Power", 9, 111, 56, 9},
    {1052, K::kDropDownList, "", 66, 108, 51, 61, true, kOffHookItems},
    {kIdStatic, K::kLabel, "Hook Detection Speed", 9, 125, 77, 11},
    {1053, K::kDropDownList, "", 90, 122, 43, 55, true, kHookSpeedItems},
    {kIdSetDefault, K::kPushButton, "Set to Default", 55, 143, 50, 14},
    {kIdOk, K::kDefPushButton, "OK", 7, 163, 50, 14},
    {kIdCancel, K::kPushButton, "Cancel", 101, 163, 50, 14},
    {kIdSettingsHelp, K::kPushButton, "Help", 101, 7, 50, 14},
};

constexpr ControlTemplate kUpdateResultControls[] = {
    {kIdResultText, K::kLabel, "Result", 11, 9, 101, 29},
    {kIdOk, K::kDefPushButton, "OK", 130, 12, 50, 14},
};

constexpr ControlTemplate kHelpControls[] = {
    {kIdHelpList, K::kListBox, "", 7, 7, 171, 137},
    {kIdOk, K::kDefPushButton, "OK", 71, 145, 50, 14},
};

constexpr ControlTemplate kAddressControls[] = {
    {kIdStatic, K::kLabel,
     "The adapter has lost its Bluetooth address. Pick the one it had, or type its 12 "
     "hexadecimal digits from the adapter's label or from the phone's list of paired devices.",
     7, 7, 246, 26},
    {kIdStatic, K::kLabel, "Saved addresses:", 7, 36, 100, 8},
    {kIdAddressList, K::kChoiceList, "", 7, 46, 246, 40},
    {kIdStatic, K::kLabel, "Address:", 7, 94, 34, 8},
    {kIdAddressEdit, K::kEdit, "", 43, 92, 90, 12},
    {kIdAddressError, K::kLabel, "", 7, 108, 246, 16},
    {kIdOk, K::kDefPushButton, "OK", 79, 128, 46, 14},
    {kIdContinueWithout, K::kPushButton, "Continue without", 131, 128, 70, 14},
    {kIdCancel, K::kPushButton, "Cancel", 207, 128, 46, 14},
};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
  static const DialogTemplate t{kMainTemplate, "Brivelton Utility Version", 249, 255, kMainControls};
  return t;
}
const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate t{kAboutTemplate, "About Brivelton Utility", 217, 55, kAboutControls};
  return t;
}
const DialogTemplate& UpdateConfirmDialogTemplate() {
  static const DialogTemplate t{kUpdateConfirmTemplate, "Firmware Update", 219, 91,
                                kUpdateConfirmControls};
  return t;
}
const DialogTemplate& SettingsDialogTemplate() {
  static const DialogTemplate t{kSettingsTemplate, "Set Brivelton Parameters", 158, 185,
                                kSettingsControls};
  return t;
}
const DialogTemplate& UpdateResultDialogTemplate() {
  static const DialogTemplate t{kUpdateResultTemplate, "Firmware Update Result", 187, 45,
                                kUpdateResultControls};
  return t;
}
const DialogTemplate& HelpDialogTemplate() {
  static const DialogTemplate t{kHelpTemplate, "Help", 185, 166, kHelpControls};
  return t;
}

const DialogTemplate& AddressDialogTemplate() {
  static const DialogTemplate t{kAddressTemplate, "Adapter Address", 260, 150, kAddressControls};
  return t;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  for (const auto& control : dialog.controls)
    if (control.id == id) return &control;
  return nullptr;
}

const char* AboutMenuText() { return BRIVELTON_STRING_ABOUT_MENU; }
const char* AboutTitle() { return "About Brivelton Utility"; }
const char* AboutSecondLine() { return kAboutControls[2].text; }
const ControlTemplate& AboutFirmwarePlace() {
  static constexpr ControlTemplate place{kIdAboutFirmware, K::kLabel, "", 40, 36, 170, 17};
  return place;
}
const ControlTemplate& PlaceholderWarningPlace() {
  static constexpr ControlTemplate place{kIdPlaceholderWarning, K::kLabel, "", 88, 4, 124, 17};
  return place;
}
const char* UpdateSucceededText() { return "Firmware update done. Please re-pair device."; }
const char* UpdateFailedText() {
  return "Update failed. Please unplug the device and try again.";
}

}  // namespace brivelton::ui
