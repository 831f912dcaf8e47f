// Time on Linux: a monotonic millisecond counter (wrapping at 2^32 like the Windows tick
// count), the local time of the user's time zone, and sleep.
#pragma once

#include "platform/clock.h"

namespace tonalis::lnx {

class LinuxClock : public Clock {
 public:
  uint32_t tickCount() override;
  LocalTime localTime() override;
  void sleepMillis(uint32_t ms) override;
};

}  // namespace tonalis::lnx
