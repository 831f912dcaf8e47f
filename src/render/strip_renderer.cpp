#include "render/strip_renderer.h"

#include <algorithm>

#include "render/canvas.h"

namespace tonalis {

namespace {

constexpr ColorRef Black = 0;
constexpr int32_t FloorRow = CellRows;  // row 17, under the 17 level rows

void drawWaveform(Canvas& canvas, const StripFrameInput& in) {
  const LayoutMetrics& m = in.layout;
  const bool fullScreen = in.displayMode == DisplayMode::FullScreen;
  int32_t y0 = (fullScreen ? m.stripTop : 0) + m.stripHeight - 110;
  if (in.fullScreenPosition == Stretch) y0 = m.stripTop;
  const int32_t x0 = m.stripMarginX + m.bandGap;
  const int32_t n = in.screenWidth - 2 * x0;
  if (n <= 0 || in.spectrumLine.empty()) return;
  // The line keeps one pixel per bin and 100 pixels of height at any screen size: the
  // 429 values simply repeat across the width.
  const size_t count = std::min<size_t>(in.spectrumLine.size(), SpectrumLineLength);
  Point prev{x0, y0 + 100};
  for (int32_t k = 0; k < n; ++k) {
    const Point p{x0 + k, y0 + 100 - std::min(in.spectrumLine[size_t(k) % count], 100)};
    canvas.line(prev, p, in.barColor);
    prev = p;
  }
}

void drawBand(Canvas& canvas, const StripFrameInput& in, int32_t base, int b, int32_t shown,
              int32_t peak) {
  const LayoutMetrics& m = in.layout;
  const int32_t x = m.stripMarginX + (b + 1) * m.bandGap + b * m.bandWidth;
  const int32_t r = x + m.bandWidth;
  const int32_t pitch = m.cellGap + m.cellHeight;
  const int32_t h = m.cellHeight / 2;                 // Bar inset
  const int32_t w = (m.bandWidth - m.cellHeight) / 2;  // Dots offset
  const int style = in.spectrumStyle;

  for (int32_t j = 0; j < CellRows; ++j) {
    const int32_t y = base + m.cellGap + j * pitch;
    const bool lit = j >= CellRows - shown;
    const ColorRef litColor = j <= 1 ? in.peakColor : in.barColor;
    const Rect cell{x, y, r, y + m.cellHeight};
    switch (style) {
      case Block:
        canvas.fillRect(cell, lit ? litColor : in.unlitCellColor);
        break;
      case TopBlock:
        canvas.fillRect(cell, lit ? litColor : in.unlitCellColor);
        if (j == CellRows - peak) canvas.fillRect(cell, litColor);
        break;
      case Bar:
        // Reaches down to the next row's top, so the column is unbroken to the floor.
        canvas.fillRect({x + h, y, r - h, y + m.cellHeight + m.cellGap}, lit ? litColor : Black);
        break;
      case Floating:
        canvas.fillRect(cell, j == CellRows - shown ? litColor : in.unlitCellColor);
        break;
      case Dots:
        canvas.fillRect({x + w, y, x + w + m.cellHeight, y + m.cellHeight}, lit ? litColor : Black);
        break;
      default:
        break;
    }
  }

  const int32_t yf = base + m.cellGap + FloorRow * pitch;
  switch (style) {
    case Dots:
      canvas.fillRect({x + w, yf, x + w + m.cellHeight, yf + m.cellHeight}, in.barColor);
      break;
    case Bar:
      canvas.fillRect({x + h, yf, r - h, yf + m.cellHeight}, in.barColor);
      break;
    case Waveform:
      break;
    default:
      canvas.fillRect({x, yf, r, yf + m.cellHeight}, in.barColor);
      // A Floating band shows exactly one block: on the floor only while its level is 0.
      if (style == Floating && shown != 0) {
        canvas.fillRect({x, yf, r, yf + m.cellHeight}, in.unlitCellColor);
      }
      break;
  }
}

}  // namespace

void renderStripFrame(PixelView target, const BandLevels& levels, const StripFrameInput& in,
                      BandAnimState& anim, BoardLevels& boardLevels,
                      uint8_t& boardClockMode) noexcept {
  Canvas canvas(target);
  const bool fullScreen = in.displayMode == DisplayMode::FullScreen;
  canvas.fillRect({0, 0, in.screenWidth, fullScreen ? in.screenHeight : in.layout.stripHeight}, Black);

  if (in.spectrumStyle == Waveform) drawWaveform(canvas, in);

  // As in the window renderer, a band's drawing depends only on its own new state.
  advanceFrame(anim, levels, boardLevels, boardClockMode);
  const int32_t base = fullScreen ? in.layout.stripTop : 0;
  for (int b = 0; b < BandCount; ++b) {
    drawBand(canvas, in, base, b, anim.shownLevel[b], anim.peakLevel[b]);
  }
}

}  // namespace tonalis
