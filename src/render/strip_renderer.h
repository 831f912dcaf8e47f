// The FullScreen and Desktop display modes' frame: the window's spectrum scaled to the
// screen with LayoutMetrics, as a strip of 24 columns of 17 cells plus a floor row (or
// the Waveform line). No status images. It draws the bars a BandAnimator stepped for the
// frame, the same bars the window renderer would.
#pragma once

#include <cstdint>
#include <span>

#include "common/types.h"
#include "render/band_anim.h"
#include "render/band_cells.h"
#include "render/dirty_rects.h"
#include "render/layout_metrics.h"

namespace tonalis {

// Values the frame reads from the main window's state.
struct StripFrameInput {
  DisplayMode displayMode = DisplayMode::FullScreen;  // FullScreen or Desktop
  int32_t fullScreenPosition = Center;  // Stretch (3) puts the Waveform line at stripTop
  int32_t spectrumStyle = Block;
  Rgb barColor = 0xFFFFFF;         // lit rows 2..16, the floor row, the Waveform line
  Rgb peakColor = 0xFF0000;        // lit rows 0 and 1
  Rgb unlitCellColor = 0;
  int32_t screenWidth = 0;              // as stored (>= 400)
  int32_t screenHeight = 0;             // as stored, possibly replaced by the layout
  LayoutMetrics layout;
  // 429 per-bin magnitudes (>= 0), for the Waveform style; repeated across the width.
  // An empty span draws no line.
  std::span<const int32_t> spectrumLine;
};

// What the strip frame buffer shows, as far as a frame can change it (see WindowPicture).
struct StripPicture {
  const uint32_t* pixels = nullptr;  // null: unknown, the next frame is whole
  int32_t width = 0;
  int32_t height = 0;
  DisplayMode displayMode = DisplayMode::FullScreen;
  int32_t fullScreenPosition = 0;
  int32_t spectrumStyle = 0;
  CellColors colors;
  int32_t screenWidth = 0;
  int32_t screenHeight = 0;
  LayoutMetrics layout;
  std::array<int32_t, BandCount> shownLevel{};
  std::array<int32_t, BandCount> peakLevel{};
  std::array<int32_t, SpectrumLineLength> line{};  // drawn heights 0..100 (or beyond, for odd values)
  size_t lineCount = 0;
};

// The strip renderer's own state, zeroed at program start and never reset.
struct StripRendererState {
  StripPicture picture;  // what the buffer holds after the last frame
  // Out: the rectangles the last frame changed in the buffer; none when it drew the same
  // picture again. Whoever else writes the buffer must reset `picture` (= {}).
  DirtyRects changed;
};

// Draws one frame of `bands` (already stepped for it) into `target` and updates `state`.
// target: the screen frame buffer, whose top-left is the screen's (0, 0) in FullScreen
// mode and the strip's top-left in Desktop mode; everything outside it is clipped.
// FullScreen clears (0, 0, screenWidth, screenHeight) and draws rows from stripTop;
// Desktop clears (0, 0, screenWidth, stripHeight) and draws rows from 0. Allocates nothing.
void renderStripFrame(PixelView target, const BandAnimator& bands, const StripFrameInput& input,
                      StripRendererState& state) noexcept;

}  // namespace tonalis
