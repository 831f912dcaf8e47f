// Frame buffers and how they reach the screen. A frame sends only what it changed: a
// layered-window update of a whole screen costs milliseconds a call, and a frame in a long
// silence changes a few digits at most.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/types.h"

namespace tonalis {

// How the window shows its frames: painted from the buffer, changed part only (a
// layered-window update of a whole screen costs a full blend per frame, milliseconds),
// except where only a layered update gives the look: a window faded by constant alpha.
enum class Surface : int32_t {
  Opaque,           // an ordinary window; nothing shows through
  PaintedAlpha,     // layered by the system's attributes with constantAlpha (255: unfaded)
  PaintedColorKey,  // black keyed out by the system (fully transparent), the rest opaque
  LayeredAlpha,     // layered-window updates of the changed part, faded by constantAlpha
};

struct Presentation {
  PixelView source;                  // a buffer from createBuffer
  std::optional<Point> destination;  // the window's new top-left on the screen; none: it stays
  Point size;                        // the window's size: the top-left part of source shown
  Surface surface = Surface::PaintedAlpha;
  uint8_t constantAlpha = 255;       // PaintedAlpha and LayeredAlpha
  // Where `source` differs from the frame drawn into it before, in buffer pixels. Empty:
  // the same picture again.
  std::span<const Rect> changed;
};

class Presenter {
 public:
  virtual ~Presenter() = default;
  // A frame buffer of width x height pixels, black; owned by the presenter and valid
  // until releaseBuffer. Made at start-up (or when the screen buffer must grow), never
  // per frame.
  virtual PixelView createBuffer(int32_t width, int32_t height) = 0;
  virtual void releaseBuffer(PixelView& buffer) = 0;
  // Shows a frame. The presenter sends only `changed` while the buffer, surface, place,
  // size and alpha stay those of its last frame, nothing at all when `changed` is empty,
  // and the whole frame otherwise. The window is moved and sized as asked. The result is
  // not reported: a failed update leaves the previous picture.
  virtual void present(const Presentation& frame) = 0;
  // True while the window is painted from the frames (every surface but LayeredAlpha): the
  // window's background erase must then be skipped, it would only flash.
  virtual bool paintsWindow() = 0;
  // Answers the system's paint request from the last frame shown; false while layered
  // updates keep the picture, or before the first frame (default processing).
  virtual bool repaint() = 0;
};

}  // namespace tonalis
