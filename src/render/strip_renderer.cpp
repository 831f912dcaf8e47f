#include "render/strip_renderer.h"

#include <algorithm>

#include "render/canvas.h"

namespace tonalis {

namespace {

constexpr Rgb Black = 0;
constexpr int32_t FloorRow = CellRows;  // row 17, under the 17 level rows

struct WaveformPlace {
  int32_t x0 = 0;   // first point's x
  int32_t base = 0; // y of the value 0
  int32_t n = 0;    // points across the width
};

WaveformPlace waveformPlace(const StripFrameInput& in) {
  const LayoutMetrics& m = in.layout;
  const bool fullScreen = in.displayMode == DisplayMode::FullScreen;
  int32_t y0 = (fullScreen ? m.stripTop : 0) + m.stripHeight - 110;
  if (in.fullScreenPosition == Stretch) y0 = m.stripTop;
  const int32_t x0 = m.stripMarginX + m.bandGap;
  return {x0, y0 + 100, in.screenWidth - 2 * x0};
}

// `heights` are the drawn heights, min(value, 100), of the 429 bins.
void drawWaveform(Canvas& canvas, const WaveformPlace& at, std::span<const int32_t> heights, Rgb color) {
  if (at.n <= 0 || heights.empty()) return;
  // The line keeps one pixel per bin and 100 pixels of height at any screen size: the
  // 429 values simply repeat across the width.
  const size_t count = heights.size();
  Point prev{at.x0, at.base};
  for (int32_t k = 0; k < at.n; ++k) {
    const Point p{at.x0 + k, at.base - heights[size_t(k) % count]};
    canvas.line(prev, p, color);
    prev = p;
  }
}

// Every pixel of the line lies inside the box of its points (the start point included).
Rect lineBounds(const WaveformPlace& at, const StripPicture& pic) {
  if (at.n <= 0 || pic.lineCount == 0) return {};
  int32_t high = 0, low = 0;
  const size_t used = std::min(pic.lineCount, size_t(at.n));
  for (size_t k = 0; k < used; ++k) {
    high = std::max(high, pic.line[k]);
    low = std::min(low, pic.line[k]);
  }
  return {at.x0, at.base - high, at.x0 + at.n, at.base - low + 1};
}

struct BandGeometry {
  const LayoutMetrics& m;
  int32_t base;  // y of the strip's top in the buffer
  int32_t style;
  int32_t x(int b) const { return m.stripMarginX + (b + 1) * m.bandGap + b * m.bandWidth; }
  int32_t rowTop(int32_t j) const { return base + m.cellGap + j * (m.cellGap + m.cellHeight); }
  // Row j (0..16) of band b: a cell; Bar is inset by half a cell on both sides and reaches
  // down to the next row's top, so the column is unbroken down to the floor row; a dot is
  // a square centred in the column.
  Rect cell(int b, int32_t j) const {
    const int32_t l = x(b), r = l + m.bandWidth, y = rowTop(j);
    const int32_t h = m.cellHeight / 2;
    const int32_t w = (m.bandWidth - m.cellHeight) / 2;
    switch (style) {
      case Bar: return {l + h, y, r - h, y + m.cellHeight + m.cellGap};
      case Dots: return {l + w, y, l + w + m.cellHeight, y + m.cellHeight};
      default: return {l, y, r, y + m.cellHeight};
    }
  }
  // The floor row (row 17), shaped like the style's cells but Bar's stops at its own bottom.
  Rect floor(int b) const {
    Rect f = cell(b, FloorRow);
    if (style == Bar) f.bottom = f.top + m.cellHeight;
    return f;
  }
};

void drawBand(Canvas& canvas, const BandGeometry& g, const CellColors& colors, int b, int32_t shown,
              int32_t peak) {
  for (int32_t j = 0; j < CellRows; ++j) {
    const std::optional<Rgb> color = cellColor(g.style, j, shown, peak, colors);
    if (!color) break;
    canvas.fillRect(g.cell(b, j), *color);
  }
  if (const std::optional<Rgb> color = floorColor(g.style, shown, colors)) canvas.fillRect(g.floor(b), *color);
}

void collectChanges(const StripPicture& before, const StripPicture& now, const WaveformPlace& wave,
                    DirtyRects& changed) {
  changed.reset({0, 0, now.width, now.height});
  if (before.pixels != now.pixels || before.width != now.width || before.height != now.height ||
      before.displayMode != now.displayMode || before.fullScreenPosition != now.fullScreenPosition ||
      before.spectrumStyle != now.spectrumStyle || !(before.colors == now.colors) ||
      before.screenWidth != now.screenWidth || before.screenHeight != now.screenHeight ||
      !(before.layout == now.layout)) {
    changed.addWhole();
    return;
  }
  if (now.spectrumStyle == Waveform) {
    if (before.lineCount != now.lineCount ||
        !std::equal(now.line.begin(), now.line.begin() + std::ptrdiff_t(now.lineCount), before.line.begin())) {
      changed.add(unite(lineBounds(wave, before), lineBounds(wave, now)));
    }
    return;
  }
  const BandGeometry g{now.layout, now.displayMode == DisplayMode::FullScreen ? now.layout.stripTop : 0,
                       now.spectrumStyle};
  for (int b = 0; b < BandCount; ++b) {
    const int32_t shownBefore = before.shownLevel[b], shownNow = now.shownLevel[b];
    const int32_t peakBefore = before.peakLevel[b], peakNow = now.peakLevel[b];
    if (shownBefore == shownNow && peakBefore == peakNow) continue;
    for (int32_t j = 0; j < CellRows; ++j) {
      if (cellColor(g.style, j, shownBefore, peakBefore, now.colors) !=
          cellColor(g.style, j, shownNow, peakNow, now.colors)) {
        changed.add(g.cell(b, j));
      }
    }
    if (floorColor(g.style, shownBefore, now.colors) != floorColor(g.style, shownNow, now.colors)) {
      changed.add(g.floor(b));
    }
  }
}

}  // namespace

void renderStripFrame(PixelView target, const BandAnimator& bands, const StripFrameInput& in,
                      StripRendererState& state) noexcept {
  Canvas canvas(target);
  const bool fullScreen = in.displayMode == DisplayMode::FullScreen;
  canvas.fillRect({0, 0, in.screenWidth, fullScreen ? in.screenHeight : in.layout.stripHeight}, Black);

  StripPicture now;
  now.pixels = target.pixels;
  now.width = target.width;
  now.height = target.height;
  now.displayMode = in.displayMode;
  now.fullScreenPosition = in.fullScreenPosition;
  now.spectrumStyle = in.spectrumStyle;
  now.colors = {in.barColor, in.peakColor, in.unlitCellColor};
  now.screenWidth = in.screenWidth;
  now.screenHeight = in.screenHeight;
  now.layout = in.layout;

  const WaveformPlace wave = waveformPlace(in);
  if (in.spectrumStyle == Waveform) {
    now.lineCount = std::min<size_t>(in.spectrumLine.size(), SpectrumLineLength);
    for (size_t k = 0; k < now.lineCount; ++k) now.line[k] = std::min(in.spectrumLine[k], 100);
    drawWaveform(canvas, wave, std::span<const int32_t>(now.line.data(), now.lineCount), in.barColor);
  }

  const BandGeometry g{in.layout, fullScreen ? in.layout.stripTop : 0, in.spectrumStyle};
  for (int b = 0; b < BandCount; ++b) {
    drawBand(canvas, g, now.colors, b, bands.shownLevels()[b], bands.peakLevels()[b]);
  }
  now.shownLevel = bands.shownLevels();
  now.peakLevel = bands.peakLevels();

  collectChanges(state.picture, now, wave, state.changed);
  state.picture = now;
}

}  // namespace tonalis
