#include "platform/win32/win32_services.h"

#include <shellapi.h>

#include "platform/win32/win32_util.h"

namespace tonalis::win32 {

uint32_t Win32Clock::tickCount() { return GetTickCount(); }

LocalTime Win32Clock::localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wHour, t.wMinute};
}

void Win32Clock::sleepMillis(uint32_t ms) { Sleep(ms); }

void Win32Shell::showMessage(std::string_view utf8Text) {
  MessageBoxW(host_.hwnd(), widen(utf8Text).c_str(), L"Tonalis", MB_OK);
}

void Win32Shell::openUrl(std::string_view url) {
  ShellExecuteW(nullptr, nullptr, widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tonalis::win32
