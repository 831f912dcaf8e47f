#include "backend/win32/clock.h"

#include <windows.h>

namespace tonalis::win32 {

// The interrupt time without the time spent asleep or hibernating (GetTickCount counts it):
// after a night's sleep the capture loop sees a moment, not eight hours of silence to make.
uint32_t Win32Clock::tickCount() {
  ULONGLONG units = 0;  // 100 ns
  QueryUnbiasedInterruptTime(&units);
  return uint32_t(units / 10000);
}

LocalTime Win32Clock::localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wHour, t.wMinute};
}

void Win32Clock::sleepMillis(uint32_t ms) { Sleep(ms); }

}  // namespace tonalis::win32
