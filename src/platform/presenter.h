// Frame buffers and how they reach the screen. A frame sends only what it changed: the
// system's layered-window update of a whole screen costs milliseconds a call, and a
// frame in a long silence changes a few digits at most.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/types.h"

namespace tonalis {

// How the window shows its frames.
enum class Surface : int32_t {
  LayeredAlpha,     // layered-window updates, the whole window blended with constantAlpha
  LayeredColorKey,  // layered-window updates, black fully transparent and the rest opaque
  Opaque,           // an ordinary window painted from the buffer; nothing shows through
  PaintedColorKey,  // painted from the buffer as Opaque, black keyed out by the system
};

struct Presentation {
  PixelView source;                  // a buffer from createBuffer
  std::optional<Point> destination;  // the window's new top-left on the screen; none: it stays
  Point size;                        // the window's size: the top-left part of source shown
  Surface surface = Surface::LayeredAlpha;
  uint8_t constantAlpha = 255;       // LayeredAlpha only
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
  // True while the window is painted from the last frame (Opaque, PaintedColorKey):
  // then the system's own background erase must be skipped.
  virtual bool paintsWindow() = 0;
  // Answers the system's paint request from the last frame; false when the system keeps
  // the window's picture itself (layered updates), for default processing.
  virtual bool repaint() = 0;
};

}  // namespace tonalis
