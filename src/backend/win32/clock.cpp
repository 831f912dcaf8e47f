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

Win32Clock::Win32Clock() : uiThread_(GetCurrentThreadId()) {}

void Win32Clock::sleepMillis(uint32_t ms) {
  if (GetCurrentThreadId() != uiThread_) {
    Sleep(ms);
    return;
  }
  const uint32_t start = tickCount();
  for (uint32_t elapsed = 0; elapsed < ms; elapsed = tickCount() - start) {
    if (MsgWaitForMultipleObjectsEx(0, nullptr, ms - elapsed, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
}

}  // namespace tonalis::win32
