// The Win32 clock: tick count, local time, sleep.
#pragma once

#include "platform/clock.h"

namespace tonalis::win32 {

class Win32Clock : public Clock {
 public:
  uint32_t tickCount() override;
  LocalTime localTime() override;
  void sleepMillis(uint32_t ms) override;
};

}  // namespace tonalis::win32
