// What is drawn (and sent to the board) can run behind the sound by a fixed time, for
// headphones and TVs that play it 100-300 ms after the program hears it. The analysed
// frames of the last moments are kept in a ring made once; a frame allocates nothing.
#pragma once

#include <array>
#include <cstdint>

#include "audio/analysis.h"

namespace tonalis {

class FrameDelay {
 public:
  // Frames kept: 300 ms at the 28 ms frame period is 11; the rest covers extra frames
  // (a splash, a display change) that come between two timer ticks.
  static constexpr int32_t Capacity = 32;

  // Adds the frame analysed at `tick` (ms) and returns the one to draw: the newest that is
  // at least `delayMillis` old, or the oldest kept when none is (the delay just grew, or
  // the program just started). With delay 0 it is `frame` itself.
  const SpectrumFrame& push(const SpectrumFrame& frame, uint32_t tick, uint32_t delayMillis);

 private:
  struct Entry {
    SpectrumFrame frame;
    uint32_t tick = 0;
  };
  std::array<Entry, Capacity> entries_{};
  int32_t newest_ = -1;  // index of the newest entry
  int32_t count_ = 0;
};

}  // namespace tonalis
