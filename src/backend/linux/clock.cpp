#include "backend/linux/clock.h"

#include <cerrno>
#include <ctime>

namespace tonalis::lnx {

// CLOCK_MONOTONIC stops while the system is suspended (CLOCK_BOOTTIME would count it).
uint32_t LinuxClock::tickCount() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint32_t(uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000);
}

LocalTime LinuxClock::localTime() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_hour, local.tm_min};
}

void LinuxClock::sleepMillis(uint32_t ms) {
  timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace tonalis::lnx
