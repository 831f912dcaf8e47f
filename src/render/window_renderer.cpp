#include "render/window_renderer.h"

#include <algorithm>

#include "render/canvas.h"

namespace tonalis {

namespace {

constexpr ColorRef Black = 0;
constexpr int32_t CellWidth = 15;
constexpr int32_t CellHeight = 4;

void drawBandCells(Canvas& canvas, int b, int32_t shown, int32_t peak, const WindowFrameInput& in) {
  const int32_t x = WindowBandX0 + WindowBandPitch * b;
  for (int32_t j = 0; j < CellRows; ++j) {
    const int32_t y = WindowCellY0 + WindowCellPitch * j;
    const bool lit = j >= CellRows - shown;
    const ColorRef litColor = j <= 1 ? in.peakColor : in.barColor;
    const Rect cell{x, y, x + CellWidth, y + CellHeight};
    switch (in.spectrumStyle) {
      case Block:
        canvas.fillRect(cell, lit ? litColor : in.unlitCellColor);
        break;
      case TopBlock:
        canvas.fillRect(cell, lit ? litColor : in.unlitCellColor);
        if (j == CellRows - peak) canvas.fillRect(cell, litColor);
        break;
      case Bar: {
        // Rows overlap into the gaps so the column is one unbroken bar from y 8 to 108.
        const Rect bar = j < CellRows - 1 ? Rect{x + 2, y, x + 13, y + 6} : Rect{x + 2, 104, x + 13, 108};
        canvas.fillRect(bar, lit ? litColor : Black);
        break;
      }
      case Floating:
        canvas.fillRect(cell, j == CellRows - shown ? litColor : in.unlitCellColor);
        break;
      case Dots: {
        // A 4 x 4 dot with its corners cut, centred in the column.
        const ColorRef c = lit ? litColor : Black;
        canvas.fillRect({x + 5, y + 1, x + 9, y + 3}, c);
        canvas.fillRect({x + 6, y, x + 8, y + 4}, c);
        break;
      }
      default:
        return;  // Waveform and unknown styles draw no cells
    }
  }
}

void drawWaveform(Canvas& canvas, std::span<const int32_t> line, ColorRef color) {
  // Starts with a step up from the baseline at (7, 106) to the first point.
  Point prev{WindowBandX0, 106};
  const size_t n = std::min<size_t>(line.size(), SpectrumLineLength);
  for (size_t k = 0; k < n; ++k) {
    const Point p{WindowBandX0 + int32_t(k), 106 - std::min(line[k], 100)};
    canvas.line(prev, p, color);
    prev = p;
  }
}

const Image* activityImage(const WindowAssets& a, int32_t& counter) {
  const int32_t k = counter;
  if (k == 0) return a.activityIdle;
  if (k >= 1 && k <= 15) return a.activityFrames[0];
  if (k >= 16 && k <= 35) return a.activityFrames[size_t(1 + (k - 16) / 5)];
  if (k >= 36 && k <= 40) {
    counter = 0;
    return a.activityFrames[5];
  }
  return nullptr;  // not reachable from a zeroed counter
}

void blit(Canvas& canvas, const Image* image, int32_t x, int32_t y) {
  if (image != nullptr) canvas.drawImage(*image, {x, y});
}

}  // namespace

void renderWindowFrame(PixelView target, const BandLevels& levels, const WindowFrameInput& in,
                       const WindowAssets& assets, WindowRendererState& state,
                       uint32_t& frameMillis, BoardLevels& boardLevels,
                       uint8_t& boardClockMode) noexcept {
  Canvas canvas(target);
  canvas.fillRect({0, 0, target.width, target.height}, Black);

  if (in.spectrumStyle == Waveform) drawWaveform(canvas, in.spectrumLine, in.barColor);

  // Each band's cells depend only on that band's new state, so advancing all bands
  // first draws the same picture as advancing and drawing band by band.
  const bool longSilence = advanceFrame(state.anim, levels, boardLevels, boardClockMode);
  if (longSilence) state.activityCounter = 0;
  for (int b = 0; b < BandCount; ++b) {
    drawBandCells(canvas, b, state.anim.shownLevel[b], state.anim.peakLevel[b], in);
  }

  if (in.transparencyMode == Minimal) return;

  if (in.spectrumStyle != Waveform) blit(canvas, assets.scale, 6, 114);
  blit(canvas, assets.readoutFrame, 384, 128);
  if (frameMillis > 999) frameMillis = 999;
  const uint32_t n = frameMillis;
  blit(canvas, assets.digits[n / 100], 387, 131);
  blit(canvas, assets.digits[(n % 100) / 10], 393, 131);
  blit(canvas, assets.digits[n % 10], 399, 131);
  blit(canvas, assets.titleLabel, 7, 128);
  blit(canvas, assets.captionLabel, 409, 128);
  blit(canvas, in.boardConnected ? assets.boardOn : assets.boardOff, 106, 128);
  blit(canvas, in.clickThrough != 0 ? assets.clickThroughOn : assets.clickThroughOff, 134, 128);
  blit(canvas, in.topMost == 1 ? assets.topMostOn : assets.topMostOff, 162, 128);

  // Style icons, in the order they have always been laid down: Floating, Bar, Block,
  // TopBlock, Dots, Waveform; then the current style's highlighted icon over its own.
  static constexpr std::array<int32_t, 6> IconX = {190, 280, 250, 220, 310, 340};  // by style - 1
  for (int style : {Floating, Bar, Block, TopBlock, Dots, Waveform}) {
    blit(canvas, assets.styleIcons[size_t(style - 1)], IconX[size_t(style - 1)], 128);
  }
  const int lit = (in.spectrumStyle >= TopBlock && in.spectrumStyle <= Waveform) ? in.spectrumStyle : Block;
  blit(canvas, assets.styleIconsLit[size_t(lit - 1)], IconX[size_t(lit - 1)], 128);

  blit(canvas, activityImage(assets, state.activityCounter), 370, 128);
  state.activityCounter += 1;
}

}  // namespace tonalis
