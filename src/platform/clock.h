// Time as the program sees it: a monotonic millisecond tick counter that does not count
// time the computer spent asleep (it wraps after 49.7 days: compare ticks by difference),
// the local wall-clock time for the board's clock report, and sleep.
#pragma once

#include <cstdint>

namespace tonalis {

struct LocalTime {
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t tickCount() = 0;            // milliseconds since an arbitrary start; wraps
  virtual LocalTime localTime() = 0;
  virtual void sleepMillis(uint32_t ms) = 0;   // may be called from either thread
};

}  // namespace tonalis
