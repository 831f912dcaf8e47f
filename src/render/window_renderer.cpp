#include "render/window_renderer.h"

#include <algorithm>

#include "render/canvas.h"

namespace tonalis {

namespace {

constexpr Rgb Black = 0;
constexpr int32_t CellWidth = WindowCellWidth;
constexpr int32_t CellHeight = WindowCellHeight;
constexpr int32_t LineBaseY = 106;
// Where the band cells of any style lie, and the status images.
constexpr Rect CellsArea{WindowBandX0, WindowCellY0, WindowBandX0 + WindowBandPitch * (BandCount - 1) + CellWidth,
                         WindowCellY0 + WindowCellPitch * (CellRows - 1) + CellHeight};
constexpr Point ScaleAt{6, 114};
constexpr std::array<Point, 3> DigitAt = {Point{387, 131}, Point{393, 131}, Point{399, 131}};
constexpr std::array<Point, 4> StatusAt = {Point{106, 128}, Point{134, 128}, Point{162, 128}, Point{370, 128}};
constexpr std::array<int32_t, 6> IconX = {190, 280, 250, 220, 310, 340};  // by style - 1

// Cell row j of band b in `style`: Bar rows overlap into the gaps so the column is one
// unbroken bar from y 8 to 108; a dot is 4 x 4 with its corners cut, centred.
Rect cellBounds(int32_t style, int b, int32_t j) {
  const int32_t x = WindowBandX0 + WindowBandPitch * b;
  const int32_t y = WindowCellY0 + WindowCellPitch * j;
  switch (style) {
    case Bar: return j < CellRows - 1 ? Rect{x + 2, y, x + 13, y + 6} : Rect{x + 2, 104, x + 13, 108};
    case Dots: return {x + 5, y, x + 9, y + 4};
    default: return {x, y, x + CellWidth, y + CellHeight};
  }
}

void drawBandCells(Canvas& canvas, int b, int32_t shown, int32_t peak, int32_t style, const CellColors& colors) {
  for (int32_t j = 0; j < CellRows; ++j) {
    const std::optional<Rgb> color = cellColor(style, j, shown, peak, colors);
    if (!color) return;  // Waveform and unknown styles draw no cells
    const Rect r = cellBounds(style, b, j);
    if (style == Dots) {
      canvas.fillRect({r.left, r.top + 1, r.right, r.bottom - 1}, *color);
      canvas.fillRect({r.left + 1, r.top, r.right - 1, r.bottom}, *color);
    } else {
      canvas.fillRect(r, *color);
    }
  }
}

// Line y of a spectrum value: 100 pixels of height above the base line.
int32_t lineY(int32_t value) { return LineBaseY - std::min(value, 100); }

void drawWaveform(Canvas& canvas, std::span<const int32_t> line, Rgb color) {
  // Starts with a step up from the baseline at (7, 106) to the first point.
  Point prev{WindowBandX0, LineBaseY};
  const size_t n = std::min<size_t>(line.size(), SpectrumLineLength);
  for (size_t k = 0; k < n; ++k) {
    const Point p{WindowBandX0 + int32_t(k), lineY(line[k])};
    canvas.line(prev, p, color);
    prev = p;
  }
}

// Every pixel of the line lies inside the box of its points (the base point included).
Rect lineBounds(const WindowPicture& pic) {
  if (pic.lineCount == 0) return {};
  int32_t top = LineBaseY, bottom = LineBaseY;
  for (size_t k = 0; k < pic.lineCount; ++k) {
    top = std::min(top, pic.line[k]);
    bottom = std::max(bottom, pic.line[k]);
  }
  return {WindowBandX0, top, WindowBandX0 + int32_t(pic.lineCount), bottom + 1};
}

Rect spectrumArea(const WindowPicture& pic) {
  if (pic.spectrumStyle == Waveform) return lineBounds(pic);
  return pic.spectrumStyle >= Block && pic.spectrumStyle < Waveform ? CellsArea : Rect{};
}

Rect imageRect(const Image* image, Point at) {
  if (image == nullptr) return {};
  return {at.x, at.y, at.x + image->width, at.y + image->height};
}

int litIconStyle(int32_t style) { return (style >= TopBlock && style <= Waveform) ? style : Block; }

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

// The indicator's picture for this frame; the counter moves on to the next.
const Image* turnActivity(const WindowAssets& a, int32_t& counter) {
  const Image* image = activityImage(a, counter);
  counter += 1;
  return image;
}

void blit(Canvas& canvas, const Image* image, int32_t x, int32_t y) {
  if (image != nullptr) canvas.drawImage(*image, {x, y});
}

// The rectangles where `now` differs from `before` (the previous frame in the same buffer).
void collectChanges(const WindowPicture& before, const WindowPicture& now, const WindowAssets& assets,
                    DirtyRects& changed) {
  changed.reset({0, 0, now.width, now.height});
  if (before.pixels != now.pixels || before.width != now.width || before.height != now.height ||
      !(before.colors == now.colors) || before.minimal != now.minimal) {
    changed.addWhole();
    return;
  }
  if (before.spectrumStyle != now.spectrumStyle) {
    changed.add(spectrumArea(before));
    changed.add(spectrumArea(now));
    if (!now.minimal) {
      if ((before.spectrumStyle == Waveform) != (now.spectrumStyle == Waveform)) {
        changed.add(imageRect(assets.scale, ScaleAt));
      }
      for (int32_t style : {before.spectrumStyle, now.spectrumStyle}) {
        const int lit = litIconStyle(style);
        const Point at{IconX[size_t(lit - 1)], 128};
        changed.add(unite(imageRect(assets.styleIcons[size_t(lit - 1)], at),
                          imageRect(assets.styleIconsLit[size_t(lit - 1)], at)));
      }
    }
  } else if (now.spectrumStyle == Waveform) {
    if (before.lineCount != now.lineCount ||
        !std::equal(now.line.begin(), now.line.begin() + std::ptrdiff_t(now.lineCount), before.line.begin())) {
      changed.add(unite(lineBounds(before), lineBounds(now)));
    }
  } else {
    for (int b = 0; b < BandCount; ++b) {
      if (before.shownLevel[b] == now.shownLevel[b] && before.peakLevel[b] == now.peakLevel[b]) continue;
      for (int32_t j = 0; j < CellRows; ++j) {
        if (cellColor(now.spectrumStyle, j, before.shownLevel[b], before.peakLevel[b], now.colors) !=
            cellColor(now.spectrumStyle, j, now.shownLevel[b], now.peakLevel[b], now.colors)) {
          changed.add(cellBounds(now.spectrumStyle, b, j));
        }
      }
    }
  }
  if (now.minimal) return;
  for (size_t i = 0; i < now.digits.size(); ++i) {
    if (before.digits[i] != now.digits[i]) {
      changed.add(unite(imageRect(before.digits[i], DigitAt[i]), imageRect(now.digits[i], DigitAt[i])));
    }
  }
  for (size_t i = 0; i < now.status.size(); ++i) {
    if (before.status[i] != now.status[i]) {
      changed.add(unite(imageRect(before.status[i], StatusAt[i]), imageRect(now.status[i], StatusAt[i])));
    }
  }
}

}  // namespace

void renderWindowFrame(PixelView target, const BandAnimator& bands, const WindowFrameInput& in,
                       const WindowAssets& assets, WindowRendererState& state,
                       uint32_t& frameMillis) noexcept {
  Canvas canvas(target);
  canvas.fillRect({0, 0, target.width, target.height}, Black);
  const CellColors colors{in.barColor, in.peakColor, in.unlitCellColor};

  WindowPicture now;
  now.pixels = target.pixels;
  now.width = target.width;
  now.height = target.height;
  now.spectrumStyle = in.spectrumStyle;
  now.colors = colors;
  now.minimal = in.transparencyMode == Minimal;

  if (in.spectrumStyle == Waveform) {
    drawWaveform(canvas, in.spectrumLine, in.barColor);
    now.lineCount = std::min<size_t>(in.spectrumLine.size(), SpectrumLineLength);
    for (size_t k = 0; k < now.lineCount; ++k) now.line[k] = lineY(in.spectrumLine[k]);
  }

  if (bands.longSilence()) state.activityCounter = 0;
  for (int b = 0; b < BandCount; ++b) {
    drawBandCells(canvas, b, bands.shownLevels()[b], bands.peakLevels()[b], in.spectrumStyle, colors);
  }
  now.shownLevel = bands.shownLevels();
  now.peakLevel = bands.peakLevels();

  if (!now.minimal) {
    if (in.spectrumStyle != Waveform) blit(canvas, assets.scale, ScaleAt.x, ScaleAt.y);
    blit(canvas, assets.readoutFrame, 384, 128);
    if (frameMillis > 999) frameMillis = 999;
    const uint32_t n = frameMillis;
    now.digits = {assets.digits[n / 100], assets.digits[(n % 100) / 10], assets.digits[n % 10]};
    for (size_t i = 0; i < now.digits.size(); ++i) blit(canvas, now.digits[i], DigitAt[i].x, DigitAt[i].y);
    blit(canvas, assets.titleLabel, 7, 128);
    blit(canvas, assets.captionLabel, 409, 128);
    now.status[0] = in.boardConnected ? assets.boardOn : assets.boardOff;
    now.status[1] = in.clickThrough != 0 ? assets.clickThroughOn : assets.clickThroughOff;
    now.status[2] = in.topMost == 1 ? assets.topMostOn : assets.topMostOff;
    for (size_t i = 0; i < 3; ++i) blit(canvas, now.status[i], StatusAt[i].x, StatusAt[i].y);

    // Style icons, in the order they have always been laid down: Floating, Bar, Block,
    // TopBlock, Dots, Waveform; then the current style's highlighted icon over its own.
    for (int style : {Floating, Bar, Block, TopBlock, Dots, Waveform}) {
      blit(canvas, assets.styleIcons[size_t(style - 1)], IconX[size_t(style - 1)], 128);
    }
    const int lit = litIconStyle(in.spectrumStyle);
    blit(canvas, assets.styleIconsLit[size_t(lit - 1)], IconX[size_t(lit - 1)], 128);

    now.status[3] = turnActivity(assets, state.activityCounter);
    blit(canvas, now.status[3], StatusAt[3].x, StatusAt[3].y);
  }

  collectChanges(state.picture, now, assets, state.changed);
  state.picture = now;
}

void skipWindowFrame(const BandAnimator& bands, const WindowAssets& assets, WindowRendererState& state) noexcept {
  if (bands.longSilence()) state.activityCounter = 0;
  if (!state.picture.minimal) turnActivity(assets, state.activityCounter);
}

int32_t framesToActivityChange(const BandAnimator& bands, const WindowAssets& assets,
                               const WindowRendererState& state) noexcept {
  if (state.picture.pixels == nullptr || state.picture.minimal) return 0;
  int32_t counter = state.activityCounter;
  // One turn of the indicator is at most 40 frames.
  for (int32_t n = 1; n <= 41; ++n) {
    if (bands.longSilence()) counter = 0;
    if (turnActivity(assets, counter) != state.picture.status[3]) return n;
  }
  return 0;
}

}  // namespace tonalis
