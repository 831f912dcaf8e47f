// Frame buffers and their presentation as a layered window.
#pragma once

#include <cstdint>
#include <optional>

#include "common/types.h"

namespace tonalis {

class Presenter {
 public:
  virtual ~Presenter() = default;
  // A frame buffer of width x height pixels, black; owned by the presenter and valid
  // until releaseBuffer. Made at start-up (or when the screen buffer must grow), never
  // per frame.
  virtual PixelView createBuffer(int32_t width, int32_t height) = 0;
  virtual void releaseBuffer(PixelView& buffer) = 0;
  // One layered-window update from `source` (its top-left `size.x` x `size.y` pixels).
  // With a destination the window moves there; it is always sized to `size`.
  // colorKey: black pixels are fully transparent, the rest opaque; otherwise the whole
  // window is blended with constantAlpha. The result is not reported: a failed update
  // leaves the previous picture.
  virtual void present(const PixelView& source, std::optional<Point> destination, Point size,
                       uint8_t constantAlpha, bool colorKey) = 0;
};

}  // namespace tonalis
