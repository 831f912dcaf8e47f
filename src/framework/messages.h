// Portable message ids. They carry the Windows values so a native message needs no
// translation table, and so the ids in a message table read the same on every platform.
// Where <windows.h> is already included its macros stand in for these constants (same
// names, same values; the Win32 backend checks that they agree).
#pragma once

#include <cstdint>

namespace tonalis {

struct Message {
  uint32_t id = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

#ifndef WM_CREATE
inline constexpr uint32_t WM_CREATE = 0x0001;
#endif
#ifndef WM_DESTROY
inline constexpr uint32_t WM_DESTROY = 0x0002;
#endif
#ifndef WM_PAINT
inline constexpr uint32_t WM_PAINT = 0x000F;
#endif
#ifndef WM_CLOSE
inline constexpr uint32_t WM_CLOSE = 0x0010;
#endif
#ifndef WM_QUIT
inline constexpr uint32_t WM_QUIT = 0x0012;
#endif
#ifndef WM_ERASEBKGND
inline constexpr uint32_t WM_ERASEBKGND = 0x0014;
#endif
#ifndef WM_ICONERASEBKGND
inline constexpr uint32_t WM_ICONERASEBKGND = 0x0027;
#endif
#ifndef WM_QUERYDRAGICON
inline constexpr uint32_t WM_QUERYDRAGICON = 0x0037;
#endif
#ifndef WM_SETCURSOR
inline constexpr uint32_t WM_SETCURSOR = 0x0020;
#endif
#ifndef WM_KEYDOWN
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
#endif
#ifndef WM_INITDIALOG
inline constexpr uint32_t WM_INITDIALOG = 0x0110;
#endif
#ifndef WM_COMMAND
inline constexpr uint32_t WM_COMMAND = 0x0111;
#endif
#ifndef WM_SYSCOMMAND
inline constexpr uint32_t WM_SYSCOMMAND = 0x0112;
#endif
#ifndef WM_TIMER
inline constexpr uint32_t WM_TIMER = 0x0113;
#endif
#ifndef WM_CTLCOLORSTATIC
inline constexpr uint32_t WM_CTLCOLORSTATIC = 0x0138;
#endif
#ifndef WM_MOUSEMOVE
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
#endif
#ifndef WM_LBUTTONDOWN
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
#endif
#ifndef WM_LBUTTONUP
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
#endif
#ifndef WM_LBUTTONDBLCLK
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
#endif
#ifndef WM_RBUTTONDOWN
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
#endif
#ifndef WM_RBUTTONUP
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
#endif
#ifndef WM_MBUTTONDOWN
inline constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
#endif
#ifndef WM_DEVICECHANGE
inline constexpr uint32_t WM_DEVICECHANGE = 0x0219;
#endif
#ifndef WM_USER
inline constexpr uint32_t WM_USER = 0x0400;
#endif
#ifndef WM_APP
inline constexpr uint32_t WM_APP = 0x8000;
#endif

#ifndef VK_RETURN
inline constexpr uint32_t VK_RETURN = 0x0D;
#endif
#ifndef VK_ESCAPE
inline constexpr uint32_t VK_ESCAPE = 0x1B;
#endif

#ifndef IDOK
inline constexpr intptr_t IDOK = 1;
#endif
#ifndef IDCANCEL
inline constexpr intptr_t IDCANCEL = 2;
#endif

#ifndef SC_MOVE
inline constexpr uint32_t SC_MOVE = 0xF010;
#endif
#ifndef HTCAPTION
inline constexpr uint32_t HTCAPTION = 2;
#endif

constexpr uint32_t loWord(uintptr_t v) { return uint32_t(v & 0xFFFF); }
constexpr uint32_t hiWord(uintptr_t v) { return uint32_t((v >> 16) & 0xFFFF); }

}  // namespace tonalis
