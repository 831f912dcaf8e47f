// The About box from the resource script's template, run modally over the main window: its
// own loop (the main window's messages, its frame timer among them, go on being dispatched),
// the value rows and link filled in from AboutInfo, the link drawn blue with a hand cursor
// over it, a click on it opening the page. Returns when OK, Enter, Escape or a close ends
// it, or at once when the loop meets the program's quit (which it leaves for the outer loop).
#pragma once

#include <windows.h>

#include "about/about_info.h"
#include "platform/shell.h"

namespace tonalis::win32 {

inline constexpr int AboutTemplateId = 100;
// The template's controls: the seven value rows in aboutRows' order, then the link.
inline constexpr int AboutValueIds[AboutRowCount] = {1006, 1002, 1003, 1007, 1008, 1004, 1005};
inline constexpr int AboutLinkId = 1010;

// `opened` receives the box's window while it is open (null again once it is gone).
void runAboutBox(HINSTANCE instance, HWND owner, const AboutInfo& info, Shell* shell, HWND& opened);

}  // namespace tonalis::win32
