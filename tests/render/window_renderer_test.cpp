#include "render/window_renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/canvas.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

using test::Frame;
using test::idPixel;

constexpr Rgb BarRef = 0x00FF00;    // green
constexpr Rgb PeakRef = 0xFF0000;   // red
constexpr Rgb UnlitRef = 0x1E1E1E;
constexpr uint32_t BarPx = BarRef;
constexpr uint32_t PeakPx = PeakRef;
constexpr uint32_t UnlitPx = UnlitRef;
constexpr uint32_t Black = 0;

struct WindowRig {
  test::TestImages images;
  WindowAssets assets = images.assets();
  Frame frame{WindowWidth, WindowHeight, 0x777777};
  WindowRendererState state;
  uint32_t frameMillis = 28;
  BandAnimator bands;
  std::array<int32_t, SpectrumLineLength> line{};
  WindowFrameInput in;

  explicit WindowRig(int32_t style = Block) {
    in.spectrumStyle = style;
    in.barColor = BarRef;
    in.peakColor = PeakRef;
    in.unlitCellColor = UnlitRef;
  }
  void render(const BandLevels& levels) {
    in.spectrumLine = line;
    bands.step(levels);
    renderWindowFrame(frame.view(), bands, in, assets, state, frameMillis);
  }
  uint32_t at(int x, int y) const { return frame.at(x, y); }
};

int32_t bandX(int b) { return WindowBandX0 + WindowBandPitch * b; }
int32_t rowY(int j) { return WindowCellY0 + WindowCellPitch * j; }

BandLevels levelsOf(std::initializer_list<std::pair<int, int32_t>> set) {
  BandLevels l{};
  for (auto [b, v] : set) l[size_t(b)] = v;
  return l;
}

struct Probe {
  int x, y;
  uint32_t expect;
  const char* what;
};

void checkProbes(const WindowRig& rig, const std::vector<Probe>& probes, const std::string& label) {
  for (const Probe& p : probes) {
    EXPECT_EQ(rig.at(p.x, p.y), p.expect) << label << ": " << p.what << " at (" << p.x << "," << p.y << ")";
  }
}

TEST(WindowRenderer, StylesLightTheirCells) {
  // Band 0 at 16, band 1 at 17 (and above), band 2 silent, band 3 at 1.
  const BandLevels levels = levelsOf({{0, 16}, {1, 40}, {2, 0}, {3, 1}});
  struct Case {
    int32_t style;
    std::vector<Probe> probes;
  };
  const int x0 = bandX(0) + 7, x1 = bandX(1) + 7, x2 = bandX(2) + 7, x3 = bandX(3) + 7;
  const std::vector<Case> cases = {
      {Block,
       {{x0, rowY(0) + 2, UnlitPx, "level 16 leaves row 0 unlit"},
        {x0, rowY(1) + 2, PeakPx, "row 1 is in the peak zone"},
        {x0, rowY(2) + 2, BarPx, "row 2 takes the bar colour"},
        {x1, rowY(0), PeakPx, "level 17 lights row 0"},
        {x2, rowY(16), UnlitPx, "silent band"},
        {x3, rowY(16) + 3, BarPx, "level 1 lights row 16"},
        {x3, rowY(15), UnlitPx, "and only row 16"},
        {x1, rowY(0) + 4, Black, "gap under a cell"},
        {bandX(1) + 15, rowY(5), Black, "gap right of a column"},
        {bandX(1) - 1, rowY(5), Black, "gap left of a column"},
        {bandX(1), rowY(5), BarPx, "column's first pixel"},
        {bandX(1) + 14, rowY(5) + 3, BarPx, "cell's last pixel"}}},
      {TopBlock,
       {{x0, rowY(1), PeakPx, "peak marker at row 1 coincides with the bar"},
        {x2, rowY(16), UnlitPx, "peak 0 draws no marker"},
        {x3, rowY(16), BarPx, "level 1"}}},
      {Bar,
       {{bandX(1) + 2, rowY(0), PeakPx, "bar's left edge"},
        {bandX(1) + 1, rowY(0), Black, "left inset"},
        {bandX(1) + 12, rowY(0), PeakPx, "bar's right edge"},
        {bandX(1) + 13, rowY(0), Black, "right inset"},
        {x1, rowY(0) + 5, PeakPx, "the gap under row 0 is filled"},
        {x1, rowY(1) + 5, PeakPx, "the gap under row 1 belongs to row 1 (peak zone)"},
        {x1, rowY(2) + 5, BarPx, "the gap under row 2 in the bar colour"},
        {x1, 107, BarPx, "bottom row ends at 108"},
        {x1, 108, Black, "nothing below 108"},
        {x0, rowY(0) + 3, Black, "unlit is black, not the unlit cell colour"},
        {x2, 60, Black, "silent band"}}},
      {Floating,
       {{x1, rowY(0), PeakPx, "level 17 lights only row 0"},
        {x1, rowY(1), UnlitPx, "row 1 unlit"},
        {x1, rowY(16), UnlitPx, "row 16 unlit"},
        {x0, rowY(1), PeakPx, "level 16: row 1"},
        {x3, rowY(16), BarPx, "level 1: row 16"},
        {x2, rowY(16), UnlitPx, "level 0 shows no block"}}},
      {Dots,
       {{bandX(1) + 5, rowY(0) + 1, PeakPx, "dot's wide part"},
        {bandX(1) + 8, rowY(0) + 2, PeakPx, "dot's wide part, right"},
        {bandX(1) + 6, rowY(0), PeakPx, "dot's tall part"},
        {bandX(1) + 7, rowY(0) + 3, PeakPx, "dot's tall part, bottom"},
        {bandX(1) + 5, rowY(0), Black, "cut corner"},
        {bandX(1) + 8, rowY(0) + 3, Black, "cut corner"},
        {bandX(1) + 9, rowY(0) + 1, Black, "right of the dot"},
        {bandX(1) + 4, rowY(0) + 1, Black, "left of the dot"},
        {bandX(0) + 6, rowY(0), Black, "unlit dot is black"},
        {bandX(3) + 6, rowY(16), BarPx, "level 1"}}},
      {Waveform,
       {{x1, rowY(0), Black, "no cells"},
        {x3, rowY(16), Black, "no cells"}}},
      {0,
       {{x1, rowY(0), Black, "unknown style: no cells"}}},
  };
  for (const Case& c : cases) {
    WindowRig rig(c.style);
    rig.render(levels);
    checkProbes(rig, c.probes, "style " + std::to_string(c.style));
  }
}

TEST(WindowRenderer, TopBlockMarkerHoldsAboveTheFallingBar) {
  WindowRig rig(TopBlock);
  rig.render(levelsOf({{4, 10}}));
  for (int i = 0; i < 3; ++i) rig.render(BandLevels{});  // shown 10, 9, 8; peak 10
  const int x = bandX(4) + 7;
  checkProbes(rig,
              {{x, rowY(7), BarPx, "peak marker at row 17 - 10"},
               {x, rowY(8), UnlitPx, "between marker and bar"},
               {x, rowY(9), BarPx, "top of the falling bar"}},
              "TopBlock");
  for (int i = 0; i < 40; ++i) rig.render(BandLevels{});  // 43 frames since the rise
  EXPECT_EQ(rig.bands.peakLevels()[4], 9);
  EXPECT_EQ(rig.at(x, rowY(8)), BarPx);
  EXPECT_EQ(rig.at(x, rowY(7)), UnlitPx);
}

TEST(WindowRenderer, WaveformLineRunsThroughTheClampedBins) {
  WindowRig rig(Waveform);
  rig.line[0] = 50;
  rig.line[1] = 200;  // clamped to 100
  rig.render(BandLevels{});
  checkProbes(rig,
              {{7, 106, BarPx, "start of the step up"},
               {7, 57, BarPx, "step up"},
               {7, 56, BarPx, "first point"},
               {8, 6, BarPx, "second point, clamped to 100"},
               {8, 5, Black, "nothing above the clamp"},
               {9, 106, BarPx, "back at the baseline"},
               {434, 106, BarPx, "last drawn pixel"},
               {435, 106, Black, "the last point is not drawn"},
               {6, 106, Black, "nothing left of the line"},
               {100, 117, Black, "no frequency scale"},
               {340, 128, idPixel(WaveformIconLitBitmap), "Waveform icon highlighted"}},
              "waveform");
  EXPECT_EQ(rig.at(190, 128), idPixel(BlockIconBitmap));
}

TEST(WindowRenderer, StatusImagesAtTheirPlaces) {
  struct Case {
    const char* name;
    int32_t style, clickThrough, topMost;
    bool board;
    std::vector<Probe> probes;
  };
  const std::vector<Case> cases = {
      {"defaults", Block, 0, 0, false,
       {{6, 114, idPixel(ScaleBitmap), "scale"},
        {434, 120, idPixel(ScaleBitmap), "scale's last pixel"},
        {435, 114, Black, "right of the scale"},
        {384, 128, idPixel(ReadoutFrameBitmap), "readout frame"},
        {392, 131, idPixel(ReadoutFrameBitmap), "frame between two digits"},
        {7, 128, idPixel(TitleLabelBitmap), "title"},
        {409, 128, idPixel(CaptionLabelBitmap), "caption"},
        {106, 128, idPixel(BoardOffBitmap), "board off"},
        {134, 128, idPixel(ClickThroughOffBitmap), "click-through off"},
        {162, 128, idPixel(TopMostOffBitmap), "top-most off"},
        {190, 128, idPixel(BlockIconLitBitmap), "Block icon highlighted"},
        {220, 128, idPixel(FloatingIconBitmap), "Floating icon"},
        {250, 128, idPixel(BarIconBitmap), "Bar icon"},
        {280, 128, idPixel(TopBlockIconBitmap), "TopBlock icon"},
        {310, 128, idPixel(DotsIconBitmap), "Dots icon"},
        {340, 128, idPixel(WaveformIconBitmap), "Waveform icon"},
        {370, 128, idPixel(ActivityIdleBitmap), "activity idle"},
        {105, 128, Black, "gap before the board icon"},
        {5, 130, Black, "left margin"}}},
      {"all on", Bar, 1, 1, true,
       {{106, 128, idPixel(BoardOnBitmap), "board on"},
        {134, 128, idPixel(ClickThroughOnBitmap), "click-through on"},
        {162, 128, idPixel(TopMostOnBitmap), "top-most on"},
        {250, 128, idPixel(BarIconLitBitmap), "Bar icon highlighted"},
        {190, 128, idPixel(BlockIconBitmap), "Block icon normal"}}},
      {"odd flag values", TopBlock, 2, 2, false,
       {{134, 128, idPixel(ClickThroughOnBitmap), "any non-zero click-through is on"},
        {162, 128, idPixel(TopMostOffBitmap), "only 1 is top-most"},
        {280, 128, idPixel(TopBlockIconLitBitmap), "TopBlock highlighted"}}},
      {"Floating", Floating, 0, 0, false, {{220, 128, idPixel(FloatingIconLitBitmap), "lit"}}},
      {"Dots", Dots, 0, 0, false, {{310, 128, idPixel(DotsIconLitBitmap), "lit"}}},
      {"unknown style", 9, 0, 0, false,
       {{190, 128, idPixel(BlockIconLitBitmap), "Block stands in"},
        {6, 114, idPixel(ScaleBitmap), "scale drawn"}}},
  };
  for (const Case& c : cases) {
    WindowRig rig(c.style);
    rig.in.clickThrough = c.clickThrough;
    rig.in.topMost = c.topMost;
    rig.in.boardConnected = c.board;
    rig.render(BandLevels{});
    checkProbes(rig, c.probes, c.name);
  }
}

TEST(WindowRenderer, ReadoutDigitsAndTheLimit) {
  struct Case {
    uint32_t millis, stored;
    int hundreds, tens, units;
  };
  const Case cases[] = {
      {28, 28, 0, 2, 8},
      {0, 0, 0, 0, 0},
      {7, 7, 0, 0, 7},
      {999, 999, 9, 9, 9},
      {1234, 999, 9, 9, 9},
      {0x80000000u, 999, 9, 9, 9},  // compared unsigned
      {506, 506, 5, 0, 6},
  };
  for (const Case& c : cases) {
    WindowRig rig;
    rig.frameMillis = c.millis;
    rig.render(BandLevels{});
    EXPECT_EQ(rig.frameMillis, c.stored) << c.millis;
    EXPECT_EQ(rig.at(387, 131), idPixel(DigitIds[size_t(c.hundreds)])) << c.millis;
    EXPECT_EQ(rig.at(391, 137), idPixel(DigitIds[size_t(c.hundreds)])) << c.millis;
    EXPECT_EQ(rig.at(393, 131), idPixel(DigitIds[size_t(c.tens)])) << c.millis;
    EXPECT_EQ(rig.at(399, 131), idPixel(DigitIds[size_t(c.units)])) << c.millis;
  }
}

TEST(WindowRenderer, ActivityIndicatorCyclesWithSoundAndRestsInLongSilence) {
  WindowRig rig;
  const BandLevels sound = levelsOf({{0, 3}});
  std::vector<uint32_t> expected = {idPixel(ActivityIdleBitmap)};
  for (int cycle = 0; cycle < 2; ++cycle) {
    const int counts[6] = {15, 5, 5, 5, 5, 1};
    for (int f = 0; f < 6; ++f)
      for (int i = 0; i < counts[f]; ++i) expected.push_back(idPixel(ActivityFrameIds[size_t(f)]));
  }
  std::vector<uint32_t> seen;
  for (size_t i = 0; i < expected.size(); ++i) {
    rig.render(sound);
    seen.push_back(rig.at(370, 128));
  }
  EXPECT_EQ(seen, expected);

  // In silence the indicator keeps cycling until the silence limit, then stays idle.
  for (int i = 1; i < 1071; ++i) rig.render(BandLevels{});
  EXPECT_NE(rig.at(370, 128), idPixel(ActivityIdleBitmap));
  for (int i = 0; i < 3; ++i) {
    rig.render(BandLevels{});
    EXPECT_EQ(rig.at(370, 128), idPixel(ActivityIdleBitmap));
    EXPECT_EQ(rig.bands.boardClockMode(), 1);
  }
  rig.render(sound);
  EXPECT_EQ(rig.at(370, 128), idPixel(ActivityFrameIds[0]));
}

TEST(WindowRenderer, MinimalDrawsTheSpectrumOnly) {
  for (int32_t style : {Block, Waveform}) {
    WindowRig rig(style);
    rig.in.transparencyMode = Minimal;
    rig.frameMillis = 1234;
    rig.line.fill(30);
    rig.render(levelsOf({{0, 17}}));
    for (int y = 110; y < WindowHeight; ++y)
      for (int x = 0; x < WindowWidth; ++x)
        ASSERT_EQ(rig.at(x, y), Black) << "style " << style << " at " << x << "," << y;
    EXPECT_EQ(rig.state.activityCounter, 0) << "the indicator does not advance";
    EXPECT_EQ(rig.frameMillis, 1234u) << "no readout, no limit";
    EXPECT_EQ(rig.at(style == Block ? bandX(0) : 7, style == Block ? rowY(0) : 76),
              style == Block ? PeakPx : BarPx);
    EXPECT_EQ(rig.bands.boardLevels()[0], 17) << "the animation still runs";
  }
}

TEST(WindowRenderer, EveryFrameStartsFromBlack) {
  WindowRig rig(Dots);
  rig.render(levelsOf({{0, 17}}));
  rig.in.spectrumStyle = Bar;
  rig.render(BandLevels{});  // shown 17 held; the bar covers the dots
  rig.render(BandLevels{});  // shown 16
  EXPECT_EQ(rig.at(bandX(0) + 6, rowY(0)), Black);
  EXPECT_EQ(rig.at(0, 0), Black);
  EXPECT_EQ(rig.at(442, 144), Black);
}

TEST(WindowRenderer, SmallerTargetIsClipped) {
  WindowRig rig;
  Frame small(100, 50, 0x777777);
  BandLevels full{};
  full.fill(17);
  rig.in.spectrumLine = rig.line;
  rig.bands.step(full);
  renderWindowFrame(small.view(), rig.bands, rig.in, rig.assets, rig.state, rig.frameMillis);
  EXPECT_EQ(small.at(bandX(0), rowY(0)), PeakPx);
  EXPECT_EQ(small.at(99, 49), Black);
}

}  // namespace
}  // namespace tonalis
