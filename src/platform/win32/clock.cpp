#include "platform/win32/clock.h"

#include <windows.h>

namespace tonalis::win32 {

uint32_t Win32Clock::tickCount() { return GetTickCount(); }

LocalTime Win32Clock::localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wHour, t.wMinute};
}

void Win32Clock::sleepMillis(uint32_t ms) { Sleep(ms); }

}  // namespace tonalis::win32
