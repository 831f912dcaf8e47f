// A frame from the ring to the presenter, through the fakes: the frame-time meter, the
// strip's buffer and layout following the screen, the drawing delay, and a frame that
// allocates nothing.
#include "app/frame_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "fakes/allocation_counter.h"
#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"

namespace tonalis {
namespace {

struct PipelineRig {
  fakes::CallLog log;
  fakes::FakePresenter presenter{log};
  fakes::FakeClock clock{log};
  fakes::FakeBitmapSource bitmaps;
  AssetStore assets;
  DisplayState display;
  SampleRing ring;
  FramePipeline frames{presenter, clock};

  explicit PipelineRig(Point screen = {1920, 1080}) {
    assets.loadAll(bitmaps);
    display.unlitCellColor = 0x1E1E1E;
    frames.start(assets, screen, display.fullScreenPosition);
  }
  void run(uint32_t delay = 0) { frames.run({display, 0xFFFFFF, 0xFF0000, false, false, delay}, ring); }
  // Writes `blocks` of a loud 1 kHz tone into the ring.
  void tone(int blocks) {
    std::array<float, BlockSamples> block;
    for (int b = 0; b < blocks; ++b) {
      for (int k = 0; k < BlockSamples; ++k) {
        const double t = double(ring.blocksWritten() * BlockSamples + uint64_t(k)) / CaptureSampleRate;
        block[size_t(k)] = float(16000.0 * std::sin(2 * 3.14159265358979 * 1024.0 * t));
      }
      ring.write(block);
    }
  }
  void silence(int blocks) {
    const std::array<float, BlockSamples> block{};
    for (int b = 0; b < blocks; ++b) ring.write(block);
  }
};

TEST(FramePipeline, FrameTimeIsMeasuredOverTwentyFramesAcrossATickWrap) {
  PipelineRig r;
  r.clock.tick = 0xFFFFFE00u;  // the tick counter wraps during the measurement
  // The first tick takes the time and is frame 1: frames 1..19 show 0; frame 20 the mean of
  // 19 intervals over 20 (26 for 28 ms); from then on 20 intervals (28).
  for (int frame = 1; frame <= 40; ++frame) {
    if (frame > 1) r.clock.tick += 28;
    r.frames.timerTick();
    const uint32_t expected = frame < 20 ? 0u : frame < 40 ? 26u : 28u;
    EXPECT_EQ(r.frames.frameMillis(), expected) << "frame " << frame;
  }
}

TEST(FramePipeline, TheStripBufferAndLayoutFollowTheScreen) {
  struct Case {
    Point screen;
    Point buffer;
  };
  const Case cases[] = {{{1280, 720}, {1280, 720}}, {{5120, 1080}, {5120, 1080}}, {{320, 200}, {400, 300}}};
  PipelineRig r;
  for (const Case& c : cases) {
    r.frames.screenChanged(c.screen, Center);
    EXPECT_EQ(r.frames.screenSize(), c.buffer);
    EXPECT_EQ(r.frames.screenBuffer().width, c.buffer.x);
    EXPECT_EQ(r.frames.screenBuffer().height, c.buffer.y);
    EXPECT_EQ(r.frames.layout(), computeLayoutMetrics(c.buffer.x, c.buffer.y, Center));
    EXPECT_LE(r.frames.layout().stripTop + r.frames.layout().stripHeight, c.buffer.y) << "the whole strip shows";
  }
  EXPECT_EQ(r.presenter.liveBuffers(), 2) << "the old strip buffer went back";
  r.frames.stop();
  EXPECT_EQ(r.presenter.liveBuffers(), 0);
}

// With "画面延迟" at 100 ms a tone heard at frame 1 shows four frames (112 ms) later, the first
// frame at least 100 ms after it, not before.
TEST(FramePipeline, TheDelayHoldsTheBarsBackByThatMuch) {
  for (uint32_t delay : {0u, 100u}) {
    SCOPED_TRACE(std::to_string(delay) + " ms");
    PipelineRig r;
    r.run(delay);
    r.tone(16);
    int firstLit = -1;
    for (int frame = 1; frame <= 8 && firstLit < 0; ++frame) {
      r.clock.tick += 28;
      r.run(delay);
      if (*std::max_element(r.frames.boardLevels().begin(), r.frames.boardLevels().end()) > 2) firstLit = frame;
    }
    EXPECT_EQ(firstLit, delay == 0 ? 1 : 5);
  }
}

// On a scaled screen the window shows a buffer of its scaled size: every frame is the
// 100 % picture scaled (pixel for pixel repeated at 200 %), changed parts only, and a frame
// that changed nothing sends nothing. A new scale makes a new buffer and a whole frame.
TEST(FramePipeline, AScaledWindowShowsTheScaledPicture) {
  PipelineRig r;
  r.presenter.keepPixels = true;
  r.frames.setWindowScale(200);
  EXPECT_EQ(r.frames.windowSize(), (Point{886, 290}));
  EXPECT_EQ(r.presenter.liveBuffers(), 3) << "window, strip and scaled window";
  r.tone(16);
  for (int i = 0; i < 3; ++i) {
    r.clock.tick += 28;
    r.run();
  }
  const PixelView picture = r.frames.windowBuffer();
  const PixelView shown = r.frames.shownWindowBuffer();
  ASSERT_NE(shown.pixels, picture.pixels);
  const auto& last = r.presenter.presentations.back();
  EXPECT_EQ(last.source, shown.pixels);
  EXPECT_EQ(last.size, (Point{886, 290}));
  ASSERT_EQ(last.pixels.size(), size_t(886 * 290));
  int32_t wrong = 0;
  for (int32_t y = 0; y < 290; ++y)
    for (int32_t x = 0; x < 886; ++x)
      wrong += last.pixels[size_t(y * 886 + x)] != picture.pixels[size_t((y / 2) * WindowWidth + x / 2)];
  EXPECT_EQ(wrong, 0);
  // The first frame was whole; later ones only the scaled bars and digits.
  EXPECT_EQ(r.presenter.presentations.front().changedBounds, (Rect{0, 0, 886, 290}));
  EXPECT_LT(last.changedBounds.bottom, 290);

  // Back to a screen of 150 %: a buffer of that size, drawn whole.
  r.frames.setWindowScale(150);
  EXPECT_EQ(r.presenter.liveBuffers(), 3) << "the 200 % buffer went back";
  r.clock.tick += 28;
  r.run();
  EXPECT_EQ(r.presenter.presentations.back().size, (Point{665, 218}));
  EXPECT_EQ(r.presenter.presentations.back().changedBounds, (Rect{0, 0, 665, 218}));

  // Back at 100 %: the window buffer itself, as before any scaling.
  r.frames.setWindowScale(100);
  EXPECT_EQ(r.presenter.liveBuffers(), 2);
  r.clock.tick += 28;
  r.run();
  EXPECT_EQ(r.presenter.presentations.back().source, picture.pixels);
  EXPECT_EQ(r.presenter.presentations.back().size, (Point{WindowWidth, WindowHeight}));
}

// One set of bars for every display mode: the strip's first frame goes on from the bars the
// window showed (falling from them in silence), and draws exactly those, not bars of its own.
TEST(FramePipeline, ANewDisplayModeGoesOnFromTheBarsAsTheyAre) {
  PipelineRig r;
  r.tone(16);
  for (int i = 0; i < 6; ++i) {
    r.clock.tick += 28;
    r.run();
  }
  const std::array<int32_t, BandCount> before = r.frames.bands().shownLevels();
  ASSERT_GT(*std::max_element(before.begin(), before.end()), 2);

  r.display.displayMode = DisplayMode::FullScreen;
  r.silence(8);
  r.clock.tick += 28;
  r.run();
  const std::array<int32_t, BandCount>& after = r.frames.bands().shownLevels();
  const LayoutMetrics& m = r.frames.layout();
  const PixelView strip = r.frames.screenBuffer();
  for (int b = 0; b < BandCount; ++b) {
    SCOPED_TRACE(b);
    EXPECT_GE(after[b], before[b] - 1) << "a bar falls one row a frame";
    EXPECT_EQ(r.frames.boardLevels()[b], after[b]);
    // Block: lit cells are the bar or peak colour, the others unlit grey.
    const int32_t x = m.stripMarginX + (b + 1) * m.bandGap + b * m.bandWidth;
    int32_t lit = 0;
    for (int32_t j = 0; j < CellRows; ++j) {
      const int32_t y = m.stripTop + m.cellGap + j * (m.cellGap + m.cellHeight);
      lit += strip.pixels[size_t(y) * size_t(strip.width) + size_t(x)] != 0x1E1E1E;
    }
    EXPECT_EQ(lit, after[b]);
  }
}

TEST(FramePipeline, AFrameAllocatesNothing) {
  PipelineRig r;
  r.frames.setWindowScale(150);
  r.presenter.logPresents = false;
  r.tone(8);
  r.run(300);
  r.presenter.presentations.reserve(100);  // the fake's own record
  fakes::allocations = 0;
  fakes::countAllocations = true;
  for (DisplayMode mode : {DisplayMode::Window, DisplayMode::FullScreen, DisplayMode::Desktop}) {
    r.display.displayMode = mode;
    for (int i = 0; i < 5; ++i) {
      r.clock.tick += 28;
      r.run(300);
    }
  }
  fakes::countAllocations = false;
  EXPECT_EQ(fakes::allocations, 0);
}

}  // namespace
}  // namespace tonalis
