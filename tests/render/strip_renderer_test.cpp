#include "render/strip_renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/canvas.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

using test::Frame;

constexpr Rgb BarRef = 0x00FF00;
constexpr Rgb PeakRef = 0xFF0000;
constexpr Rgb UnlitRef = 0x1E1E1E;
constexpr uint32_t BarPx = BarRef;
constexpr uint32_t PeakPx = PeakRef;
constexpr uint32_t UnlitPx = UnlitRef;
constexpr uint32_t Black = 0;
constexpr uint32_t Mark = 0x777777;

struct StripRig {
  Frame frame;
  StripRendererState state;
  BandAnimator bands;
  std::array<int32_t, SpectrumLineLength> line{};
  StripFrameInput in;

  StripRig(int32_t style, DisplayMode mode = DisplayMode::FullScreen, int32_t w = 1920,
           int32_t h = 1080, int32_t position = Center)
      : frame(w, h, Mark) {
    in.displayMode = mode;
    in.fullScreenPosition = position;
    in.spectrumStyle = style;
    in.barColor = BarRef;
    in.peakColor = PeakRef;
    in.unlitCellColor = UnlitRef;
    in.screenWidth = w;
    in.screenHeight = h;
    in.layout = computeLayoutMetrics(w, in.screenHeight, position);
  }
  void render(const BandLevels& levels) {
    in.spectrumLine = line;
    bands.step(levels);
    renderStripFrame(frame.view(), bands, in, state);
  }
  uint32_t at(int x, int y) const { return frame.at(x, y); }
};

BandLevels uniform(int32_t v) {
  BandLevels l{};
  l.fill(v);
  return l;
}

struct Probe {
  int x, y;
  uint32_t expect;
  const char* what;
};

void checkProbes(const StripRig& rig, const std::vector<Probe>& probes, const std::string& label) {
  for (const Probe& p : probes) {
    EXPECT_EQ(rig.at(p.x, p.y), p.expect) << label << ": " << p.what << " at (" << p.x << "," << p.y << ")";
  }
}

// 1920 x 1080, Center, FullScreen: base 315; band 0 spans x 30..94, band 23 x 1824..1888;
// row 0 spans y 323..339, row 16 y 723..739, the floor row y 748..764.
TEST(StripRenderer, WorkedExampleGeometryPerStyle) {
  struct Case {
    int32_t style;
    int32_t level;
    std::vector<Probe> probes;
  };
  const std::vector<Case> cases = {
      {Block, 17,
       {{30, 323, PeakPx, "band 0 row 0, top-left"},
        {94, 339, PeakPx, "band 0 row 0, bottom-right"},
        {95, 323, Black, "right of band 0"},
        {29, 323, Black, "left of band 0"},
        {30, 322, Black, "above row 0"},
        {30, 340, Black, "gap under row 0"},
        {30, 373, BarPx, "row 2"},
        {30, 739, BarPx, "row 16's last line"},
        {30, 748, BarPx, "floor row"},
        {30, 764, BarPx, "strip's last pixel row"},
        {30, 765, Black, "below the strip"},
        {1824, 748, BarPx, "band 23"},
        {1888, 764, BarPx, "band 23's last pixel"},
        {1889, 764, Black, "right of band 23"},
        {0, 0, Black, "screen cleared"}}},
      {Block, 0,
       {{30, 323, UnlitPx, "unlit cells"},
        {30, 723, UnlitPx, "row 16 unlit"},
        {30, 748, BarPx, "floor row always lit"}}},
      {Bar, 17,
       {{38, 323, PeakPx, "inset by 8"},
        {37, 323, Black, "left of the bar"},
        {86, 323, PeakPx, "bar's right edge"},
        {87, 323, Black, "right of the bar"},
        {38, 347, PeakPx, "row 0 reaches row 1's top"},
        {38, 397, BarPx, "row 2 reaches row 3's top"},
        {38, 747, BarPx, "row 16 reaches the floor"},
        {38, 764, BarPx, "floor bar"},
        {38, 765, Black, "below the floor"}}},
      {Bar, 0,
       {{38, 500, Black, "unlit is black"},
        {38, 747, Black, "row 16 unlit"},
        {38, 748, BarPx, "floor bar"},
        {30, 748, Black, "floor bar is inset too"}}},
      {Floating, 0,
       {{30, 748, BarPx, "one block on the floor"},
        {30, 723, UnlitPx, "row 16 unlit"}}},
      {Floating, 5,
       {{30, 623, BarPx, "row 12 = 17 - 5"},
        {30, 648, UnlitPx, "row 13 unlit"},
        {30, 748, UnlitPx, "floor block hidden"}}},
      {Floating, 17,
       {{30, 323, PeakPx, "row 0 only"},
        {30, 348, UnlitPx, "row 1 unlit"},
        {30, 748, UnlitPx, "floor hidden"}}},
      {Dots, 17,
       {{54, 323, PeakPx, "dot starts 24 into the column"},
        {70, 339, PeakPx, "17 x 17 dot"},
        {53, 323, Black, "left of the dot"},
        {71, 323, Black, "right of the dot"},
        {54, 340, Black, "below the dot"},
        {54, 748, BarPx, "floor dot"},
        {30, 748, Black, "floor is a dot too"}}},
      {Dots, 0,
       {{54, 323, Black, "unlit dot is black"},
        {54, 748, BarPx, "floor dot"}}},
      {TopBlock, 16,
       {{30, 323, UnlitPx, "row 0 above a level-16 bar"},
        {30, 348, PeakPx, "row 1 lit (and the marker)"}}},
      {8, 17,
       {{30, 323, Black, "unknown style: no cells"},
        {30, 748, BarPx, "but the full floor cell"}}},
      {Waveform, 17,
       {{31, 323, Black, "no cells"},
        {31, 748, Black, "no floor"}}},
  };
  for (const Case& c : cases) {
    StripRig rig(c.style);
    rig.render(uniform(c.level));
    checkProbes(rig, c.probes, "style " + std::to_string(c.style) + " level " + std::to_string(c.level));
  }
}

TEST(StripRenderer, WaveformRepeatsAcrossTheWidth) {
  StripRig rig(Waveform);
  rig.line[0] = 100;
  rig.line[1] = 250;  // clamped to 100
  rig.render(BandLevels{});
  // x0 = 30, n = 1860 points, line base y0 = 315 + 450 - 110 = 655, baseline 755.
  checkProbes(rig,
              {{30, 755, BarPx, "starts at the baseline"},
               {30, 656, BarPx, "first step up"},
               {30, 655, BarPx, "bin 0 at full height"},
               {31, 655, BarPx, "bin 1 clamped to 100"},
               {31, 654, Black, "nothing above 100"},
               {32, 755, BarPx, "bin 2 at the baseline"},
               {459, 655, BarPx, "bin 0 again, 429 pixels on"},
               {888, 655, BarPx, "and again"},
               {1888, 755, BarPx, "last drawn pixel"},
               {1889, 755, Black, "the last point is not drawn"},
               {29, 755, Black, "nothing left of x0"}},
              "FullScreen");
}

TEST(StripRenderer, WaveformBaseByModeAndPosition) {
  struct Case {
    DisplayMode mode;
    int32_t position;
    int32_t baseline;  // y0 + 100
  };
  const Case cases[] = {
      {DisplayMode::FullScreen, Center, 755},
      {DisplayMode::Desktop, Center, 440},    // stripHeight - 110 + 100
      {DisplayMode::FullScreen, Upper, 440},
      {DisplayMode::FullScreen, Lower, 1030},
      {DisplayMode::FullScreen, Stretch, 153},  // stripTop 53 in both modes
      {DisplayMode::Desktop, Stretch, 153},
  };
  for (const Case& c : cases) {
    StripRig rig(Waveform, c.mode, 1920, 1080, c.position);
    rig.render(BandLevels{});
    EXPECT_EQ(rig.at(500, c.baseline), BarPx) << int(c.mode) << " pos " << c.position;
    EXPECT_EQ(rig.at(500, c.baseline - 1), Black) << int(c.mode) << " pos " << c.position;
    EXPECT_EQ(rig.at(500, c.baseline + 1), Black) << int(c.mode) << " pos " << c.position;
  }
}

TEST(StripRenderer, NarrowScreenDrawsNoWaveform) {
  StripRig rig(Waveform);
  rig.in.screenWidth = 60;  // = 2 * (stripMarginX + bandGap): no points
  rig.line.fill(50);
  rig.render(BandLevels{});
  for (int y = 600; y < 800; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_NE(rig.at(x, y), BarPx) << x << "," << y;
}

TEST(StripRenderer, DesktopDrawsFromZeroAndClearsOnlyTheStrip) {
  StripRig desk(Block, DisplayMode::Desktop);
  desk.render(uniform(17));
  checkProbes(desk,
              {{30, 8, PeakPx, "row 0 at cellGap"},
               {30, 433, BarPx, "floor row at 8 + 17 * 25"},
               {30, 449, BarPx, "strip's last pixel row"},
               {0, 449, Black, "strip cleared"},
               {0, 450, Mark, "below the strip untouched"},
               {30, 323, BarPx, "FullScreen's row 0 position is row 12 here"}},
              "Desktop");
  StripRig full(Block, DisplayMode::FullScreen);
  full.render(uniform(17));
  EXPECT_EQ(full.at(0, 1079), Black);
  EXPECT_EQ(full.at(1919, 0), Black);
  EXPECT_EQ(full.at(30, 8), Black);
}

TEST(StripRenderer, StretchRowsFollowTheHeight) {
  StripRig rig(Block, DisplayMode::FullScreen, 1920, 1080, Stretch);
  // cellGap 17, cellHeight 35, stripTop 53: row 0 at 70, floor row at 70 + 17 * 52 = 954.
  rig.render(uniform(17));
  checkProbes(rig,
              {{30, 70, PeakPx, "row 0"},
               {30, 104, PeakPx, "row 0's last line"},
               {30, 105, Black, "gap"},
               {30, 954, BarPx, "floor row"},
               {30, 988, BarPx, "the 18 rows end at 989"},
               {30, 989, Black, "below the rows"}},
              "Stretch");
}

TEST(StripRenderer, SmallScreenAndABufferShorterThanTheLayoutAreClipped) {
  StripRig small(Dots, DisplayMode::FullScreen, 400, 300, Center);
  small.render(uniform(17));
  // bandWidth 13, cellHeight 3: dot at x_b + 5 .. +8; base 114, row 0 at y 115.
  EXPECT_EQ(small.at(3 + 2 + 5, 115), PeakPx);
  EXPECT_EQ(small.at(3 + 2 + 4, 115), Black);

  // A layout taller than the buffer (made for a 1280-line screen, 1242 rows from the top) must not be
  // written past the buffer's end.
  StripRig wide(Block, DisplayMode::FullScreen, 5120, 1080, Center);
  wide.in.screenHeight = 1280;
  wide.in.layout = computeLayoutMetrics(5120, 1280, Center);
  ASSERT_EQ(wide.in.layout.stripHeight, 1242);
  wide.render(uniform(17));
  EXPECT_EQ(wide.at(80, 1079), BarPx);  // band 0 spans 80..252; rows reach 1079
}

TEST(StripRenderer, AShortWideScreenShowsEveryRowFloorIncluded) {
  // 5120 x 1080: the width asks for 1242 rows; they shrink to 18 x (20 + 40) instead.
  StripRig wide(Block, DisplayMode::FullScreen, 5120, 1080, Center);
  wide.render(uniform(17));
  checkProbes(wide,
              {{80, 20, PeakPx, "row 0"},
               {80, 59, PeakPx, "row 0's last line"},
               {80, 60, Black, "gap"},
               {80, 1040, BarPx, "floor row"},
               {80, 1079, BarPx, "floor row's last line, the screen's last"}},
              "5120x1080");
}

// The strip draws the animator's falling bar (shown 11 after 12, held, one step down), and
// drawing the same bars again changes nothing: the renderer does not animate.
TEST(StripRenderer, DrawsTheAnimatorsBars) {
  StripRig rig(Block);
  rig.render(uniform(12));
  rig.render(BandLevels{});
  rig.render(BandLevels{});
  EXPECT_EQ(rig.bands.boardLevels()[0], 11);
  const auto falling = [&rig](const std::string& label) {
    checkProbes(rig,
                {{1824, 323 + 25 * 5, UnlitPx, "band 23 row 5, above the bar"},
                 {1824, 323 + 25 * 6, BarPx, "band 23 row 6, the bar's top"},
                 {30, 323 + 25 * 6, BarPx, "band 0 row 6"}},
                label);
  };
  falling("after the fall");
  rig.in.spectrumLine = rig.line;
  renderStripFrame(rig.frame.view(), rig.bands, rig.in, rig.state);
  falling("drawn again");
  EXPECT_TRUE(rig.state.changed.rects().empty());
  for (int i = 2; i < 1071; ++i) rig.render(BandLevels{});
  EXPECT_EQ(rig.bands.boardClockMode(), 1);
}

}  // namespace
}  // namespace tonalis
