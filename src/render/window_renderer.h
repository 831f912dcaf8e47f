// The Window display mode's frame: 24 band columns of 17 cells (or the Waveform line) at
// fixed positions in the 443 x 145 picture, above a row of status images and the
// frame-time readout. It draws the bars a BandAnimator stepped for the frame.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/types.h"
#include "render/assets.h"
#include "render/band_anim.h"
#include "render/band_cells.h"
#include "render/dirty_rects.h"

namespace tonalis {

// The images the window frame draws, resolved once (at start-up, after the assets are
// loaded) so a frame does no lookups. Every pointer must be non-null and outlive its use.
struct WindowAssets {
  const Image* scale = nullptr;
  const Image* readoutFrame = nullptr;
  std::array<const Image*, 10> digits{};  // element d shows digit d
  const Image* titleLabel = nullptr;
  const Image* captionLabel = nullptr;
  const Image* boardOn = nullptr;
  const Image* boardOff = nullptr;
  const Image* clickThroughOn = nullptr;
  const Image* clickThroughOff = nullptr;
  const Image* topMostOn = nullptr;
  const Image* topMostOff = nullptr;
  // Style icons indexed by SpectrumStyle - 1 (Block .. Waveform).
  std::array<const Image*, 6> styleIcons{};
  std::array<const Image*, 6> styleIconsLit{};
  const Image* activityIdle = nullptr;
  std::array<const Image*, 6> activityFrames{};  // brightest first

  // Resolves every image by resource id through `lookup(int id) -> const Image&`
  // (AssetStore::get, or a test's own images).
  template <class Lookup>
  static WindowAssets resolve(const Lookup& lookup);
  static WindowAssets fromStore(const AssetStore& store) {
    return resolve([&store](int id) -> const Image& { return store.get(id); });
  }
};

// Values the frame reads from the main window's state.
struct WindowFrameInput {
  int32_t spectrumStyle = Block;     // SpectrumStyle; other values draw no cells
  Rgb barColor = 0xFFFFFF;      // lit cells in rows 2..16, the Waveform line
  Rgb peakColor = 0xFF0000;     // lit cells in rows 0 and 1, peak markers there
  Rgb unlitCellColor = 0;       // cells above the level (Block, TopBlock, Floating)
  int32_t transparencyMode = Opaque; // Minimal (6) draws the spectrum only
  int32_t clickThrough = 0;          // non-zero: click-through "on" image
  int32_t topMost = 0;               // exactly 1: keep-on-top "on" image
  bool boardConnected = false;       // board link's connected flag
  // 429 per-bin magnitudes (>= 0), read only for the Waveform style; an empty span or a
  // shorter one draws only the points it has.
  std::span<const int32_t> spectrumLine;
};

// What the window frame buffer shows, as far as a frame can change it: the next frame
// compares itself with this to tell which rectangles it changed.
struct WindowPicture {
  const uint32_t* pixels = nullptr;  // the buffer described; null: unknown, the next frame is whole
  int32_t width = 0;
  int32_t height = 0;
  int32_t spectrumStyle = 0;
  CellColors colors;
  bool minimal = false;
  std::array<int32_t, BandCount> shownLevel{};
  std::array<int32_t, BandCount> peakLevel{};
  std::array<int32_t, SpectrumLineLength> line{};
  size_t lineCount = 0;
  std::array<const Image*, 3> digits{};
  std::array<const Image*, 4> status{};  // board, click-through, keep-on-top, activity
};

// The window renderer's own state, zeroed at program start and never reset.
struct WindowRendererState {
  int32_t activityCounter = 0;  // drives the activity indicator: 0 idle, 1..40 cycle
  WindowPicture picture;        // what the buffer holds after the last frame
  // Out: the rectangles the last frame changed in the buffer; none when it drew the same
  // picture again. Whoever else writes the buffer must reset `picture` (= {}).
  DirtyRects changed;
};

// Picture geometry: band b's column is x 7 + 18b .. +15, cell row j is y 8 + 6j .. +4.
inline constexpr int32_t WindowBandX0 = 7;
inline constexpr int32_t WindowBandPitch = 18;
inline constexpr int32_t WindowCellWidth = 15;
inline constexpr int32_t WindowCellY0 = 8;
inline constexpr int32_t WindowCellPitch = 6;
inline constexpr int32_t WindowCellHeight = 4;

// Draws one frame into `target` (the window frame buffer; normally 443 x 145, anything
// smaller is clipped) and advances `state`.
//  bands:       this frame's bars, already stepped; in its long silence the activity
//               indicator rests.
//  frameMillis: in/out; a value above 999 is stored back as 999 (unless Minimal, which
//               draws no readout and leaves it alone).
// Allocates nothing.
void renderWindowFrame(PixelView target, const BandAnimator& bands, const WindowFrameInput& input,
                       const WindowAssets& assets, WindowRendererState& state,
                       uint32_t& frameMillis) noexcept;

// A frame of silence not drawn because it would have drawn what the buffer holds (the frame
// timer skipped it): the activity indicator turns on as though it had been drawn.
void skipWindowFrame(const BandAnimator& bands, const WindowAssets& assets, WindowRendererState& state) noexcept;

// How many frames from now, counting the next one as 1, until the activity indicator shows
// another picture than the buffer holds, if the bars' silence state stays as it is; 0 when
// it will not (Minimal, a long silence, or no picture drawn yet).
int32_t framesToActivityChange(const BandAnimator& bands, const WindowAssets& assets,
                               const WindowRendererState& state) noexcept;

template <class Lookup>
WindowAssets WindowAssets::resolve(const Lookup& lookup) {
  WindowAssets a;
  a.scale = &lookup(ScaleBitmap);
  a.readoutFrame = &lookup(ReadoutFrameBitmap);
  for (int d = 0; d < 10; ++d) a.digits[d] = &lookup(DigitIds[d]);
  a.titleLabel = &lookup(TitleLabelBitmap);
  a.captionLabel = &lookup(CaptionLabelBitmap);
  a.boardOn = &lookup(BoardOnBitmap);
  a.boardOff = &lookup(BoardOffBitmap);
  a.clickThroughOn = &lookup(ClickThroughOnBitmap);
  a.clickThroughOff = &lookup(ClickThroughOffBitmap);
  a.topMostOn = &lookup(TopMostOnBitmap);
  a.topMostOff = &lookup(TopMostOffBitmap);
  a.styleIcons = {&lookup(BlockIconBitmap), &lookup(TopBlockIconBitmap), &lookup(BarIconBitmap),
                  &lookup(FloatingIconBitmap), &lookup(DotsIconBitmap),
                  &lookup(WaveformIconBitmap)};
  a.styleIconsLit = {&lookup(BlockIconLitBitmap), &lookup(TopBlockIconLitBitmap),
                     &lookup(BarIconLitBitmap), &lookup(FloatingIconLitBitmap),
                     &lookup(DotsIconLitBitmap), &lookup(WaveformIconLitBitmap)};
  a.activityIdle = &lookup(ActivityIdleBitmap);
  for (int i = 0; i < 6; ++i) a.activityFrames[i] = &lookup(ActivityFrameIds[i]);
  return a;
}

}  // namespace tonalis
