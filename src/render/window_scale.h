// The window frame on a scaled screen. The renderer always draws the 443 x 145 picture;
// this maps it onto the scaled window in one pass, every scaled pixel a copy of one
// picture pixel (nearest neighbour, so no colour appears that the picture lacks).
//
// The map is not one uniform stretch: at 125 % a 15-pixel column would come out 18 or 19
// pixels wide depending on where it starts. Instead the 24 band columns all get the same
// width and the same pitch, the 17 cell rows the same height and pitch, and the block of
// them is centred where the design puts it; everything above row 128 (the cells, the
// waveform, the ruler under them) follows that map, so the ruler's marks stay under their
// columns. The status row (y 128 and below) is stretched uniformly. At whole scales both
// maps are the plain one: every picture pixel becomes an s x s block.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/types.h"
#include "render/dirty_rects.h"

namespace tonalis {

// Scales the program takes: 100 % (nothing to map) up to 400 %.
inline constexpr int32_t MinScalePercent = 100;
inline constexpr int32_t MaxScalePercent = 400;

// A monitor's scale factor (1.0, 1.25, 2.0 ...) as a percentage in the range above,
// rounded to the nearest whole percent; anything below 100 % (or not a number) is 100 %.
int32_t scalePercentOf(double factor) noexcept;

// One axis of the map. Pixel i of the picture covers scaled pixels start[i] .. start[i+1]-1;
// scaled pixel k shows picture pixel source[k].
struct ScaleAxis {
  std::vector<int32_t> start;   // picture length + 1 entries, start.back() = scaled length
  std::vector<int32_t> source;  // scaled length entries, non-decreasing
  int32_t scaledLength() const { return start.empty() ? 0 : start.back(); }
};

// Where the band cells lie once scaled, for whoever must find them (tests, tools).
struct ScaledCells {
  int32_t x0 = 0, bandPitch = 0, bandWidth = 0;  // column b: x0 + b * bandPitch, bandWidth wide
  int32_t y0 = 0, rowPitch = 0, rowHeight = 0;   // row j: y0 + j * rowPitch, rowHeight high
};

class WindowScale {
 public:
  // percent is clamped to MinScalePercent .. MaxScalePercent. Allocates the maps here,
  // never when scaling a frame.
  explicit WindowScale(int32_t percent = 100);

  int32_t percent() const noexcept { return percent_; }
  bool identity() const noexcept { return percent_ == 100; }
  // The scaled window: 443 x 145 times the scale, rounded.
  Point size() const noexcept { return size_; }
  const ScaledCells& cells() const noexcept { return cells_; }

  // Copies the picture (443 x 145) in `changed` into `target` (size()), adding the scaled
  // rectangles to `out`. Pixels outside `changed` are left as they are: the caller scales
  // the whole picture once into a new target. Allocates nothing.
  void scaleInto(PixelView picture, PixelView target, std::span<const Rect> changed, DirtyRects& out) const noexcept;

  // The picture pixel shown at a scaled window pixel (clamped into the picture), and the
  // scaled rectangle a picture rectangle covers.
  Point toPicture(Point scaled) const noexcept;
  Rect toScaled(const Rect& picture) const noexcept;
  // A length in picture pixels at this scale (drag distances, rounded).
  int32_t scaleLength(int32_t pictureLength) const noexcept { return (pictureLength * percent_ + 50) / 100; }

  // The map's axes, for tests: x above the status row, x of the status row, y.
  const ScaleAxis& bandsX() const noexcept { return bandsX_; }
  const ScaleAxis& statusX() const noexcept { return statusX_; }
  const ScaleAxis& y() const noexcept { return y_; }

 private:
  const ScaleAxis& xFor(int32_t pictureY) const noexcept;

  int32_t percent_ = 100;
  Point size_{WindowWidth, WindowHeight};
  ScaledCells cells_;
  ScaleAxis bandsX_;
  ScaleAxis statusX_;
  ScaleAxis y_;
};

// First picture row of the status row (title, icons, readout), stretched uniformly.
inline constexpr int32_t StatusRowTop = 128;

}  // namespace tonalis
