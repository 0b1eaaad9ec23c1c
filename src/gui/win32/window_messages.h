// SPDX-License-Identifier: MIT
#pragma once
// Messages of the main window that come from outside its own dialog
// procedure: from its conversation thread, and from a test driving it.
#include <windows.h>

namespace brivelton::win32 {

// A view call from the conversation thread; lParam points at the call.
inline constexpr UINT kRunOnWindowThread = WM_APP + 1;
// The conversation thread has finished.
inline constexpr UINT kConversationDone = WM_APP + 2;
// Answers 1 while a conversation runs, 0 otherwise.
inline constexpr UINT kQueryBusy = WM_APP + 3;

// Where the update's progress bar, its stage in words and the line under
// them sit, in dialog units: the free space of the button column, below
// Setting. The ids let a test read them.
inline constexpr RECT kProgressPlace = {177, 80, 177 + 58, 80 + 10};
inline constexpr RECT kStagePlace = {177, 92, 177 + 58, 92 + 8};
inline constexpr RECT kNoticePlace = {177, 102, 177 + 58, 102 + 48};
inline constexpr int kIdProgressBar = 1090;
inline constexpr int kIdProgressStage = 1091;
inline constexpr int kIdProgressNotice = 1092;

}  // namespace brivelton::win32
