#include "app/frame_delay.h"

namespace tonalis {

const SpectrumFrame& FrameDelay::push(const SpectrumFrame& frame, uint32_t tick, uint32_t delayMillis) {
  newest_ = (newest_ + 1) % Capacity;
  entries_[size_t(newest_)] = Entry{frame, tick};
  if (count_ < Capacity) ++count_;
  int32_t index = newest_;
  for (int32_t back = 0; back < count_; ++back) {
    index = (newest_ - back + Capacity) % Capacity;
    // Ticks wrap: compare by difference.
    if (tick - entries_[size_t(index)].tick >= delayMillis) break;
  }
  return entries_[size_t(index)].frame;
}

}  // namespace tonalis
