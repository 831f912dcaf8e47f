// Portable message ids. They carry the Windows values so a native message needs no
// translation table, and so the ids in a message table read the same on every platform.
#pragma once

#include <cstdint>

namespace tonalis {

struct Message {
  uint32_t id = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

inline constexpr uint32_t WM_CREATE = 0x0001;
inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_PAINT = 0x000F;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_ICONERASEBKGND = 0x0027;
inline constexpr uint32_t WM_QUERYDRAGICON = 0x0037;
inline constexpr uint32_t WM_SETCURSOR = 0x0020;
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
inline constexpr uint32_t WM_INITDIALOG = 0x0110;
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_CTLCOLORSTATIC = 0x0138;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_APP = 0x8000;

inline constexpr uint32_t VK_RETURN = 0x0D;
inline constexpr uint32_t VK_ESCAPE = 0x1B;

inline constexpr intptr_t IDOK = 1;
inline constexpr intptr_t IDCANCEL = 2;

inline constexpr uint32_t SC_MOVE = 0xF010;
inline constexpr uint32_t HTCAPTION = 2;

constexpr uint32_t loWord(uintptr_t v) { return uint32_t(v & 0xFFFF); }
constexpr uint32_t hiWord(uintptr_t v) { return uint32_t((v >> 16) & 0xFFFF); }

}  // namespace tonalis
