// SPDX-License-Identifier: MIT
#pragma once
// The main window's logic, free of any toolkit: which buttons show, and the
// three button handlers over the protocol layers.
#include "app/main_view.h"
#include "app/protocol_stack.h"

namespace brivelton {

class MainDialog {
 public:
  // Both must outlive the dialog; the stack's log should reach `view`.
  MainDialog(MainView& view, ProtocolStack& stack);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Whether the adapter was found.
  bool OnCheckDevice();
  UpdateOutcome OnUpdateFirmware();
  SettingsOutcome OnSetting();
  // Whether button `id` has a handler here, and running it.
  static bool HasHandler(int id) {
    return id == kIdCheckDevice || id == kIdUpdateFirmware || id == kIdSetting;
  }
  void OnButton(int id);

 private:
  MainView& view_;
  ProtocolStack& stack_;
};

}  // namespace brivelton
