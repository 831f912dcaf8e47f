// The Win32 clock: tick count, local time, sleep.
#pragma once

#include "platform/clock.h"

namespace tonalis::win32 {

class Win32Clock : public Clock {
 public:
  // Made on the UI thread: its sleeps there still answer messages other threads send.
  Win32Clock();
  uint32_t tickCount() override;
  LocalTime localTime() override;
  // On the UI thread, the wait answers messages sent to its windows from other threads
  // (and only those): a worker blocked in such a call goes on, so the exit's wait for it
  // can end. Elsewhere a plain sleep.
  void sleepMillis(uint32_t ms) override;

 private:
  unsigned long uiThread_;
};

}  // namespace tonalis::win32
