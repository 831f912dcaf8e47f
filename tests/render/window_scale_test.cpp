// The window frame on scaled screens: frames drawn by the renderer with the program's own
// art, scaled, then measured by their pixels (column widths, row heights, colours).
#include "render/window_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "render/embedded_source.h"
#include "render/window_renderer.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

using test::Frame;

constexpr Rgb BarColor = 0xFFFFFF, Peak = 0xFF0000, Unlit = 0x1E1E1E;

struct Art {
  AssetStore store;
  Art() {
    EmbeddedBitmapSource source;
    store.loadAll(source);
  }
};
const Art& art() {
  static const Art a;
  return a;
}

// Draws `frames` frames of `style` into `f`, levels differing band by band (some bands
// silent, some full) so every kind of cell and the peak markers are in the picture.
void drawFrames(Frame& f, int32_t style, WindowRendererState& state, BandAnimator& bands, int frames, int shift) {
  std::vector<int32_t> line(SpectrumLineLength);
  for (int k = 0; k < SpectrumLineLength; ++k) line[size_t(k)] = (k * 37 + shift * 11) % 120;
  WindowFrameInput in;
  in.spectrumStyle = style;
  in.barColor = BarColor;
  in.peakColor = Peak;
  in.unlitCellColor = Unlit;
  in.spectrumLine = line;
  const WindowAssets assets = WindowAssets::fromStore(art().store);
  uint32_t millis = 28 + uint32_t(shift);
  for (int i = 0; i < frames; ++i) {
    BandLevels levels{};
    for (int b = 0; b < BandCount; ++b) levels[b] = (b * 7 + (i + shift) * 3) % 20;
    bands.step(levels);
    renderWindowFrame(f.view(), bands, in, assets, state, millis);
  }
}

Frame drawPicture(int32_t style) {
  Frame f(WindowWidth, WindowHeight);
  WindowRendererState state;
  BandAnimator bands;
  drawFrames(f, style, state, bands, 6, 0);
  return f;
}

Frame scaleWhole(const WindowScale& scale, Frame& picture) {
  Frame out(scale.size().x, scale.size().y, 0xABCDEF);
  DirtyRects changed;
  changed.reset({0, 0, out.width, out.height});
  const Rect whole{0, 0, WindowWidth, WindowHeight};
  scale.scaleInto(picture.view(), out.view(), std::span<const Rect>(&whole, 1), changed);
  return out;
}

// Lengths of the runs of `color` along a row (or a column) of the frame, from `from` up to
// `to` (-1: the end).
std::vector<int32_t> runs(const Frame& f, bool alongRow, int32_t at, uint32_t color, int32_t from = 0,
                          int32_t to = -1) {
  std::vector<int32_t> out;
  int32_t run = 0;
  const int32_t n = to >= 0 ? to : alongRow ? f.width : f.height;
  for (int32_t i = from; i <= n; ++i) {
    const bool hit = i < n && (alongRow ? f.at(i, at) : f.at(at, i)) == color;
    if (hit) {
      ++run;
    } else if (run > 0) {
      out.push_back(run);
      run = 0;
    }
  }
  return out;
}

TEST(WindowScaleTest, WindowSizeIsTheDesignTimesTheScaleRounded) {
  struct Case {
    double factor;
    int32_t percent;
    Point size;
  };
  const Case cases[] = {
      {1.0, 100, {443, 145}},  {1.25, 125, {554, 181}}, {1.5, 150, {665, 218}},  {1.75, 175, {775, 254}},
      {2.0, 200, {886, 290}},  {3.0, 300, {1329, 435}}, {0.75, 100, {443, 145}}, {9.0, 400, {1772, 580}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.factor);
    EXPECT_EQ(scalePercentOf(c.factor), c.percent);
    const WindowScale scale(scalePercentOf(c.factor));
    EXPECT_EQ(scale.size(), c.size);
    EXPECT_EQ(scale.bandsX().scaledLength(), c.size.x);
    EXPECT_EQ(scale.statusX().scaledLength(), c.size.x);
    EXPECT_EQ(scale.y().scaledLength(), c.size.y);
  }
}

// At 200 % and 300 % the frame is the 100 % frame with each pixel an s x s block.
TEST(WindowScaleTest, WholeScalesRepeatEveryPixel) {
  for (int32_t style : {Block, Bar, Dots, Waveform}) {
    Frame picture = drawPicture(style);
    for (int32_t s : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "style " << style << " scale " << s);
      const Frame scaled = scaleWhole(WindowScale(100 * s), picture);
      ASSERT_EQ(scaled.width, WindowWidth * s);
      ASSERT_EQ(scaled.height, WindowHeight * s);
      int32_t wrong = 0;
      for (int32_t y = 0; y < scaled.height; ++y)
        for (int32_t x = 0; x < scaled.width; ++x) wrong += scaled.at(x, y) != picture.at(x / s, y / s);
      EXPECT_EQ(wrong, 0);
    }
  }
}

// Columns and rows measured in the scaled frame: a full Block band shows 17 cells of one
// height and every band the same width, at one pitch, at every fractional scale.
TEST(WindowScaleTest, FractionalScalesKeepColumnsAndRowsEqual) {
  WindowRendererState state;
  Frame picture(WindowWidth, WindowHeight);
  {
    WindowFrameInput in;
    in.spectrumStyle = Block;
    in.barColor = BarColor;
    in.peakColor = Peak;
    in.unlitCellColor = Unlit;
    const WindowAssets assets = WindowAssets::fromStore(art().store);
    uint32_t millis = 0;
    BandLevels full{};
    full.fill(17);
    BandAnimator bands;
    bands.step(full);
    renderWindowFrame(picture.view(), bands, in, assets, state, millis);
  }
  for (int32_t percent : {125, 150, 175, 200}) {
    SCOPED_TRACE(percent);
    const WindowScale scale(percent);
    const Frame scaled = scaleWhole(scale, picture);
    const ScaledCells& c = scale.cells();

    // Along the middle of the lowest row: 24 bar-coloured runs of one width at one pitch.
    const int32_t rowY = c.y0 + 16 * c.rowPitch + c.rowHeight / 2;
    const std::vector<int32_t> widths = runs(scaled, true, rowY, BarColor);
    ASSERT_EQ(widths.size(), size_t(BandCount));
    EXPECT_TRUE(std::all_of(widths.begin(), widths.end(), [&](int32_t w) { return w == widths[0]; }));
    EXPECT_EQ(widths[0], c.bandWidth);
    for (int b = 0; b < BandCount; ++b) {
      EXPECT_EQ(scaled.at(c.x0 + b * c.bandPitch, rowY), BarColor) << "band " << b;
      EXPECT_NE(scaled.at(c.x0 + b * c.bandPitch - 1, rowY), BarColor) << "band " << b;
    }
    // The columns sit in the middle of the window, as at 100 %.
    const int32_t right = scale.size().x - (c.x0 + (BandCount - 1) * c.bandPitch + c.bandWidth);
    EXPECT_LE(std::abs(right - c.x0), 1);

    // Down the middle of every band, above the ruler: 2 peak rows and 15 bar rows, all one
    // height.
    const int32_t rulerTop = scale.y().start[114];
    for (int b = 0; b < BandCount; ++b) {
      const int32_t x = c.x0 + b * c.bandPitch + c.bandWidth / 2;
      std::vector<int32_t> heights = runs(scaled, false, x, Peak, 0, rulerTop);
      const std::vector<int32_t> barRows = runs(scaled, false, x, BarColor, 0, rulerTop);
      heights.insert(heights.end(), barRows.begin(), barRows.end());
      ASSERT_EQ(heights.size(), size_t(CellRows)) << "band " << b;
      EXPECT_TRUE(std::all_of(heights.begin(), heights.end(), [&](int32_t h) { return h == c.rowHeight; }))
          << "band " << b;
    }
    // Gaps between columns and between rows are never closed.
    EXPECT_GT(c.bandPitch, c.bandWidth);
    EXPECT_GT(c.rowPitch, c.rowHeight);
  }
}

// Nearest neighbour only: the scaled frame has exactly the picture's colours, none new and
// none lost (every picture pixel covers at least one scaled pixel).
TEST(WindowScaleTest, ScaledFramesHaveExactlyThePicturesColours) {
  for (int32_t style : {Block, TopBlock, Bar, Floating, Dots, Waveform}) {
    Frame picture = drawPicture(style);
    const std::set<uint32_t> colours(picture.pixels.begin(), picture.pixels.end());
    for (int32_t percent : {125, 150, 175, 200, 250}) {
      SCOPED_TRACE(testing::Message() << "style " << style << " at " << percent << " %");
      const Frame scaled = scaleWhole(WindowScale(percent), picture);
      EXPECT_EQ(std::set<uint32_t>(scaled.pixels.begin(), scaled.pixels.end()), colours);
    }
  }
}

// The status row is a uniform nearest-neighbour stretch of the art: every art pixel is
// floor(s) or ceil(s) scaled pixels wide and high, in both status-row axes.
TEST(WindowScaleTest, StatusRowArtIsStretchedUniformly) {
  for (int32_t percent : {125, 150, 175, 200}) {
    SCOPED_TRACE(percent);
    const WindowScale scale(percent);
    const int32_t low = percent / 100, high = (percent + 99) / 100;
    for (int32_t x = 0; x < WindowWidth; ++x) {
      const int32_t w = scale.statusX().start[size_t(x + 1)] - scale.statusX().start[size_t(x)];
      ASSERT_TRUE(w == low || w == high) << "x " << x << " is " << w << " wide";
    }
    for (int32_t y = StatusRowTop; y < WindowHeight; ++y) {
      const int32_t h = scale.y().start[size_t(y + 1)] - scale.y().start[size_t(y)];
      ASSERT_TRUE(h == low || h == high) << "y " << y << " is " << h << " high";
    }
  }
}

// A frame scaled only where it changed gives the same picture as one scaled whole, and the
// rectangles reported cover every scaled pixel that changed.
TEST(WindowScaleTest, ScalingTheChangedRectanglesMatchesScalingWhole) {
  for (int32_t style : {Block, Floating, Dots, Waveform}) {
    for (int32_t percent : {125, 150, 175, 200}) {
      SCOPED_TRACE(testing::Message() << "style " << style << " at " << percent << " %");
      const WindowScale scale(percent);
      WindowRendererState state;
      BandAnimator bands;
      Frame picture(WindowWidth, WindowHeight);
      drawFrames(picture, style, state, bands, 4, 0);
      Frame target = scaleWhole(scale, picture);
      // One more frame into the same buffer: the renderer's rectangles say what it changed.
      drawFrames(picture, style, state, bands, 1, 5);
      ASSERT_FALSE(state.changed.empty());
      const Frame before = target;
      DirtyRects scaledChanges;
      scaledChanges.reset({0, 0, target.width, target.height});
      scale.scaleInto(picture.view(), target.view(), state.changed.rects(), scaledChanges);
      const Frame whole = scaleWhole(scale, picture);
      EXPECT_EQ(target.pixels, whole.pixels);
      for (int32_t y = 0; y < target.height; ++y)
        for (int32_t x = 0; x < target.width; ++x) {
          if (before.at(x, y) == whole.at(x, y)) continue;
          const bool covered = std::any_of(scaledChanges.rects().begin(), scaledChanges.rects().end(),
                                           [&](const Rect& r) { return r.contains({x, y}); });
          ASSERT_TRUE(covered) << "(" << x << ", " << y << ") changed outside the reported rectangles";
        }
    }
  }
}

// Pointer positions on the scaled window name the picture pixel drawn there: the middle of
// every scaled cell and style icon hits that cell and icon, the window's corners its corners.
TEST(WindowScaleTest, ScaledPointsHitWhatIsDrawnThere) {
  std::vector<Rect> targets;
  for (int b : {0, 11, 23})
    for (int j : {0, 8, 16}) {
      targets.push_back({WindowBandX0 + WindowBandPitch * b, WindowCellY0 + WindowCellPitch * j,
                         WindowBandX0 + WindowBandPitch * b + WindowCellWidth,
                         WindowCellY0 + WindowCellPitch * j + WindowCellHeight});
    }
  for (int32_t x : {190, 220, 250, 280, 310, 340}) targets.push_back({x, 128, x + 28, 141});
  for (int32_t percent : {100, 125, 150, 175, 200, 300}) {
    SCOPED_TRACE(percent);
    const WindowScale scale(percent);
    for (const Rect& t : targets) {
      const Rect s = scale.toScaled(t);
      ASSERT_GT(s.width(), 0);
      for (Point p : {Point{s.left, s.top}, Point{s.right - 1, s.bottom - 1},
                      Point{(s.left + s.right) / 2, (s.top + s.bottom) / 2}}) {
        EXPECT_TRUE(t.contains(scale.toPicture(p))) << "(" << p.x << ", " << p.y << ") for x " << t.left;
      }
      EXPECT_FALSE(t.contains(scale.toPicture({s.left - 1, s.top})));
    }
    EXPECT_EQ(scale.toPicture({0, 0}), (Point{0, 0}));
    EXPECT_EQ(scale.toPicture({scale.size().x - 1, scale.size().y - 1}), (Point{WindowWidth - 1, WindowHeight - 1}));
    EXPECT_EQ(scale.toPicture({-5, 9999}), (Point{0, WindowHeight - 1}));  // clamped
  }
}

}  // namespace
}  // namespace tonalis
