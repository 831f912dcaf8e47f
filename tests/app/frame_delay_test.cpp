// The drawing runs the chosen time behind the analysis, frame by frame.
#include "app/frame_delay.h"

#include <gtest/gtest.h>

#include <memory>

#include "fakes/allocation_counter.h"

namespace tonalis {
namespace {

SpectrumFrame frameNumbered(int n) {
  SpectrumFrame f;
  f.bandLevels.fill(float(n));
  return f;
}

TEST(FrameDelay, DrawsTheNewestFrameAtLeastTheDelayOld) {
  struct Case {
    uint32_t delay;
    uint32_t period;  // ms between frames
    int shownAtFrame40;  // the frame number drawn when frame 40 arrives
  };
  const Case cases[] = {
      {0, 28, 40}, {50, 28, 38}, {100, 28, 36}, {150, 28, 34}, {200, 28, 32}, {300, 28, 29},
      {300, 10, 10},
      {300, 5, 9},  // frames faster than the ring can hold 300 ms of: the oldest kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.delay) + " ms, a frame every " + std::to_string(c.period) + " ms");
    auto delay = std::make_unique<FrameDelay>();
    // From a tick near the wrap, so the comparison by difference is tested too.
    const uint32_t start = 0xFFFFFF00u;
    float shown = -1;
    for (int n = 1; n <= 40; ++n) {
      shown = delay->push(frameNumbered(n), start + uint32_t(n) * c.period, c.delay).bandLevels[0];
      if (n == 1) {
        EXPECT_EQ(shown, 1.0f) << "the first frame is drawn at once";
      }
    }
    EXPECT_EQ(shown, float(c.shownAtFrame40));
  }
}

TEST(FrameDelay, AFrameAllocatesNothing) {
  auto delay = std::make_unique<FrameDelay>();
  const SpectrumFrame f = frameNumbered(3);
  fakes::allocations = 0;
  fakes::countAllocations = true;
  for (uint32_t n = 0; n < 100; ++n) delay->push(f, n * 28, 300);
  fakes::countAllocations = false;
  EXPECT_EQ(fakes::allocations, 0);
}

}  // namespace
}  // namespace tonalis
