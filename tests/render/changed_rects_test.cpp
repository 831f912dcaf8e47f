// The rectangles a frame reports as changed: nothing for the same picture, small boxes
// for small changes, and always every pixel that really changed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "render/dirty_rects.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

using test::Frame;

struct WindowRig {
  test::TestImages images;
  WindowAssets assets = images.assets();
  Frame frame{WindowWidth, WindowHeight};
  WindowRendererState state;
  uint32_t frameMillis = 28;
  BandAnimator bands;
  std::array<int32_t, SpectrumLineLength> line{};
  WindowFrameInput in;
  BandLevels levels{};

  explicit WindowRig(int32_t style) {
    in.spectrumStyle = style;
    in.barColor = 0x00FF00;
    in.peakColor = 0xFF0000;
    in.unlitCellColor = 0x1E1E1E;
  }
  void render() {
    in.spectrumLine = line;
    bands.step(levels);
    renderWindowFrame(frame.view(), bands, in, assets, state, frameMillis);
  }
  const DirtyRects& changed() const { return state.changed; }
};

struct StripRig {
  Frame frame;
  StripRendererState state;
  BandAnimator bands;
  std::array<int32_t, SpectrumLineLength> line{};
  StripFrameInput in;
  BandLevels levels{};

  StripRig(int32_t style, DisplayMode mode, int32_t w = 1280, int32_t h = 720)
      : frame(w, 1, 0) {
    in.displayMode = mode;
    in.spectrumStyle = style;
    in.barColor = 0x00FF00;
    in.peakColor = 0xFF0000;
    in.unlitCellColor = mode == DisplayMode::Desktop ? 0 : 0x1E1E1E;
    in.screenWidth = w;
    in.screenHeight = h;
    in.layout = computeLayoutMetrics(w, in.screenHeight, Center);
    frame = Frame(w, mode == DisplayMode::FullScreen ? in.screenHeight : in.layout.stripHeight);
  }
  void render() {
    in.spectrumLine = line;
    bands.step(levels);
    renderStripFrame(frame.view(), bands, in, state);
  }
  const DirtyRects& changed() const { return state.changed; }
};

// Every pixel that differs between two frames lies inside one of the rectangles.
::testing::AssertionResult covers(const DirtyRects& changed, const Frame& before, const Frame& after) {
  for (int32_t y = 0; y < after.height; ++y) {
    for (int32_t x = 0; x < after.width; ++x) {
      if (before.at(x, y) == after.at(x, y)) continue;
      bool inside = false;
      for (const Rect& r : changed.rects()) inside = inside || r.contains({x, y});
      if (!inside) return ::testing::AssertionFailure() << "pixel " << x << "," << y << " changed unreported";
    }
  }
  return ::testing::AssertionSuccess();
}

// Renders until the picture stops moving (bars fallen, peaks gone, activity at rest).
template <class Rig>
void settle(Rig& rig, int frames = 120) {
  for (int i = 0; i < frames; ++i) rig.render();
}

std::string describe(const Rect& r) {
  char text[64];
  std::snprintf(text, sizeof text, "{%d,%d,%d,%d}", r.left, r.top, r.right, r.bottom);
  return text;
}

TEST(ChangedRects, TheSamePictureAgainReportsNothing) {
  for (int style = Block; style <= Waveform; ++style) {
    WindowRig w(style);
    w.in.transparencyMode = Minimal;  // no activity indicator ticking
    w.levels.fill(9);
    w.line.fill(40);
    settle(w);
    w.render();
    EXPECT_TRUE(w.changed().empty()) << "window, style " << style;

    for (DisplayMode mode : {DisplayMode::FullScreen, DisplayMode::Desktop}) {
      StripRig s(style, mode);
      s.levels.fill(9);
      s.line.fill(40);
      settle(s);
      s.render();
      EXPECT_TRUE(s.changed().empty()) << "strip mode " << int(mode) << ", style " << style;
    }
  }
  // A long silence in Window mode with its status images: once the bars have fallen the
  // activity indicator rests and the frame repeats.
  WindowRig idle(Block);
  settle(idle, 1100);
  idle.render();
  EXPECT_TRUE(idle.changed().empty());
}

// Which activity picture the buffer holds: -1 idle, 0..5 the turning ones.
int activityShown(const WindowRig& rig) {
  const Image* shown = rig.state.picture.status[3];
  for (int i = 0; i < 6; ++i) {
    if (shown == rig.assets.activityFrames[size_t(i)]) return i;
  }
  return shown == rig.assets.activityIdle ? -1 : -2;
}

// In a silence, before the long silence rests it, only the activity indicator turns: the
// frames it does not change can be skipped, and drawing just the frames it names shows the
// same pictures at the same frames as drawing every one.
TEST(ChangedRects, TheActivityIndicatorNamesTheOnlyFramesThatChange) {
  WindowRig every(Block), held(Block);
  for (WindowRig* rig : {&every, &held}) settle(*rig, 60);  // silence from the start: bars down
  int32_t nextDrawn = 1;
  int drawn = 0;
  for (int frame = 1; frame <= 300; ++frame) {
    every.render();
    if (frame == nextDrawn) {
      held.render();
      ++drawn;
      const int32_t ahead = framesToActivityChange(held.bands, held.assets, held.state);
      ASSERT_GT(ahead, 0);
      nextDrawn = frame + ahead;
    } else {
      held.bands.step(held.levels);
      skipWindowFrame(held.bands, held.assets, held.state);
      EXPECT_TRUE(every.changed().empty()) << "frame " << frame << " changes what a held frame skips";
    }
    ASSERT_EQ(activityShown(held), activityShown(every)) << "frame " << frame;
  }
  EXPECT_LE(drawn, 300 / 5) << "the indicator changes at most every fifth frame";

  // Minimal draws no indicator, and the long silence rests it: nothing is due.
  WindowRig minimal(Block);
  minimal.in.transparencyMode = Minimal;
  settle(minimal, 60);
  EXPECT_EQ(framesToActivityChange(minimal.bands, minimal.assets, minimal.state), 0);
  settle(held, 1100);
  EXPECT_EQ(framesToActivityChange(held.bands, held.assets, held.state), 0);
}

TEST(ChangedRects, ASmallChangeReportsASmallBox) {
  // Window band b spans x 7 + 18b .. +15, row j y 8 + 6j .. +4.
  struct Case {
    const char* what;
    int32_t style;
    std::function<void(WindowRig&)> change;
    Rect bounds;  // of everything reported
    bool minimal = false;  // spectrum only: sound would also wake the activity indicator
  };
  const Case cases[] = {
      {"band 3 rises to 5", Block, [](WindowRig& r) { r.levels[3] = 5; }, {61, 80, 76, 108}, true},
      {"band 0 rises to full scale", Bar, [](WindowRig& r) { r.levels[0] = 20; }, {9, 8, 20, 108}, true},
      {"band 23 rises to 1", Dots, [](WindowRig& r) { r.levels[23] = 1; }, {426, 104, 430, 108}, true},
      {"Floating band 5 rises to 2", Floating, [](WindowRig& r) { r.levels[5] = 2; }, {97, 98, 112, 102}, true},
      {"readout 28 -> 35", Block, [](WindowRig& r) { r.frameMillis = 35; }, {393, 131, 404, 138}},
      {"readout 28 -> 128", Block, [](WindowRig& r) { r.frameMillis = 128; }, {387, 131, 392, 138}},
      {"board connected", Block, [](WindowRig& r) { r.in.boardConnected = true; }, {106, 128, 132, 141}},
      {"click-through on", Block, [](WindowRig& r) { r.in.clickThrough = 1; }, {134, 128, 160, 141}},
      {"keep-on-top on", Block, [](WindowRig& r) { r.in.topMost = 1; }, {162, 128, 188, 141}},
      {"line point 10 moves", Waveform, [](WindowRig& r) { r.line[10] = 50; }, {7, 56, 436, 107}},
      {"Block -> Bar: cells and two icons", Block, [](WindowRig& r) { r.in.spectrumStyle = Bar; },
       {7, 8, 436, 141}},
      {"new theme: everything", Block, [](WindowRig& r) { r.in.barColor = 0xFFFFFF; }, {0, 0, 443, 145}},
  };
  for (const Case& c : cases) {
    WindowRig rig(c.style);
    if (c.minimal) rig.in.transparencyMode = Minimal;
    settle(rig, 1100);  // long silence: the activity indicator rests
    Frame before = rig.frame;
    c.change(rig);
    rig.render();
    EXPECT_EQ(describe(rig.changed().bounds()), describe(c.bounds)) << c.what;
    EXPECT_TRUE(covers(rig.changed(), before, rig.frame)) << c.what;
  }

  // A falling line: the box it left is reported, or its old pixels stay on the screen.
  {
    WindowRig rig(Waveform);
    settle(rig, 1100);
    rig.line[10] = 90;
    rig.render();
    const Rect risen = rig.changed().bounds();
    Frame before = rig.frame;
    rig.line[10] = 0;
    rig.render();
    EXPECT_EQ(describe(rig.changed().bounds()), describe(risen)) << "line point 10 falls back";
    EXPECT_TRUE(covers(rig.changed(), before, rig.frame)) << "line point 10 falls back";
  }

  // The strip at 1280 x 720, Center: band b from x 20 + (b + 1) * 10 + 43b, 43 wide;
  // row j from base + 2 + 13j, 11 high, the floor row j = 17.
  StripRig s(Floating, DisplayMode::Desktop);
  const LayoutMetrics& m = s.in.layout;
  settle(s);
  const int32_t x2 = m.stripMarginX + 3 * m.bandGap + 2 * m.bandWidth;
  const int32_t pitch = m.cellGap + m.cellHeight;
  s.levels[2] = 1;  // the block leaves the floor for row 16
  s.render();
  EXPECT_EQ(describe(s.changed().bounds()),
            describe({x2, m.cellGap + 16 * pitch, x2 + m.bandWidth, m.cellGap + 17 * pitch + m.cellHeight}));
}

TEST(ChangedRects, EveryChangedPixelIsReported) {
  // Random passages with the inputs changing now and then, in every style and mode.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> level(0, 22), lineValue(0, 130), dice(0, 19);
  for (int style = Block; style <= Waveform; ++style) {
    WindowRig w(style);
    for (int f = 0; f < 150; ++f) {
      for (auto& v : w.levels) v = dice(rng) < 6 ? level(rng) : 0;
      if (dice(rng) == 0) w.line[size_t(lineValue(rng)) % w.line.size()] = lineValue(rng);
      switch (dice(rng)) {
        case 1: w.frameMillis = uint32_t(lineValue(rng) * 9); break;
        case 2: w.in.boardConnected = !w.in.boardConnected; break;
        case 3: w.in.transparencyMode = w.in.transparencyMode == Minimal ? Opaque : Minimal; break;
        case 4: w.in.spectrumStyle = 1 + (w.in.spectrumStyle % 7); break;  // 7: an unknown style
        case 5: w.in.unlitCellColor ^= 0x1E1E1E; break;
        case 6: w.in.clickThrough ^= 1; break;
        default: break;
      }
      const Frame before = w.frame;
      w.render();
      ASSERT_TRUE(covers(w.changed(), before, w.frame)) << "window style " << style << " frame " << f;
    }
    for (DisplayMode mode : {DisplayMode::FullScreen, DisplayMode::Desktop}) {
      StripRig s(style, mode, 640, 400);
      for (int f = 0; f < 100; ++f) {
        for (auto& v : s.levels) v = dice(rng) < 6 ? level(rng) : 0;
        if (dice(rng) == 0) s.line[size_t(lineValue(rng)) % s.line.size()] = lineValue(rng);
        if (dice(rng) == 1) s.in.spectrumStyle = 1 + (s.in.spectrumStyle % 6);
        const Frame before = s.frame;
        s.render();
        ASSERT_TRUE(covers(s.changed(), before, s.frame))
            << "strip mode " << int(mode) << " style " << style << " frame " << f;
      }
    }
  }
}

TEST(ChangedRects, ANewOrForeignBufferIsWhole) {
  WindowRig w(Block);
  w.render();  // the first frame in a buffer
  EXPECT_EQ(describe(w.changed().bounds()), describe({0, 0, WindowWidth, WindowHeight}));
  settle(w, 1100);
  w.state.picture = {};  // someone else drew into it
  w.render();
  EXPECT_EQ(describe(w.changed().bounds()), describe({0, 0, WindowWidth, WindowHeight}));

  StripRig s(Block, DisplayMode::FullScreen);
  settle(s);
  s.in.layout = computeLayoutMetrics(s.in.screenWidth, s.in.screenHeight, Upper);  // moved strip
  s.render();
  EXPECT_EQ(describe(s.changed().bounds()), describe({0, 0, s.frame.width, s.frame.height}));
}

TEST(DirtyRectsList, ClipsDropsEmptyAndWidensWhenFull) {
  DirtyRects d;
  d.reset({0, 0, 100, 50});
  d.add({-10, -10, 5, 5});
  d.add({20, 20, 20, 30});  // empty
  d.add({90, 40, 200, 200});
  ASSERT_EQ(d.rects().size(), 2u);
  EXPECT_EQ(d.rects()[0], (Rect{0, 0, 5, 5}));
  EXPECT_EQ(d.rects()[1], (Rect{90, 40, 100, 50}));
  for (int i = 0; i < int(DirtyRects::Capacity) + 10; ++i) d.add({i, i % 50, i + 1, i % 50 + 1});
  EXPECT_EQ(d.rects().size(), DirtyRects::Capacity);
  EXPECT_EQ(d.bounds(), (Rect{0, 0, 100, 50}));
  // The last rectangle grew to hold everything past the capacity.
  EXPECT_EQ(d.rects().back(), (Rect{45, 0, 58, 50}));
}

}  // namespace
}  // namespace tonalis
