// Native window messages -> the application's typed events. This is the only place where
// the Win32 packing of a message (coordinates in lParam, the command in wParam's low word,
// the system-menu bits, the tray's mouse message) is read.
#pragma once

#include <windows.h>

#include <optional>

#include "platform/events.h"

namespace tonalis::win32 {

// The mouse messages of the tray icon come to the main window as this message: wParam the
// icon id, lParam's low word the mouse message.
inline constexpr UINT TrayCallbackMessage = WM_USER + 101;

// The About item the main window appends to its system menu (a multiple of 16: the low
// four bits of a system command are the system's own).
inline constexpr UINT SysCommandAbout = 0x10;

// Messages whose ids are known only at run time, or belong to one window: 0 = none.
struct MessageVocabulary {
  UINT trayIconId = 0;    // the icon whose callbacks are ours
  UINT shellRestart = 0;  // the shell's "TaskbarCreated" broadcast
  UINT wakeRequest = 0;   // a second copy of the program asking this one to show itself
  UINT aboutCommand = 0;  // the Command the system menu's About item stands for
};

// The event a message to the main window stands for, or nothing when it is none of the
// program's business (default processing then).
std::optional<Event> translateMessage(UINT message, WPARAM wParam, LPARAM lParam, const MessageVocabulary& vocabulary);

// A key-down in the main loop as KeyPress; nothing for other messages.
std::optional<KeyPress> translateKey(const MSG& msg);

// The client-area point of a mouse message: signed 16-bit x and y in lParam.
constexpr Point mousePoint(LPARAM lParam) {
  return {int16_t(uint16_t(lParam & 0xFFFF)), int16_t(uint16_t((lParam >> 16) & 0xFFFF))};
}

}  // namespace tonalis::win32
