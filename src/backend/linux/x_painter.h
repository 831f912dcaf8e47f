// Rectangles of a frame put straight onto the window's X11 drawable: one PutImage request
// a rectangle, no drawing context of GDK's, no off-screen copy and nothing the server
// answers, so a frame costs the program one write to the X connection and no wake-up.
// Only where the window's visual stores pixels as the frames do (8 bits a channel,
// red-green-blue from the top) and one window pixel is one screen pixel; the presenter
// paints through GTK otherwise.
#pragma once

#include <gdk/gdk.h>

#include <span>

#include "common/types.h"

struct _XDisplay;
struct _XGC;

namespace tonalis::lnx {

class XPainter {
 public:
  XPainter() = default;
  ~XPainter();
  XPainter(const XPainter&) = delete;
  XPainter& operator=(const XPainter&) = delete;

  // Ready to paint `window` (a new window drops what was made for the last one); false
  // when its pixels cannot be put as they are.
  bool bind(GdkWindow* window);
  void unbind();

  // Puts `areas` of an image of 0xAARRGGBB words, `width` words a row, at the same places
  // in the window, and sends them on.
  void put(const uint32_t* pixels, int32_t width, int32_t height, std::span<const Rect> areas);

 private:
  GdkWindow* bound_ = nullptr;
  _XDisplay* display_ = nullptr;
  unsigned long drawable_ = 0;
  _XGC* gc_ = nullptr;
  int depth_ = 0;
  bool usable_ = false;
};

}  // namespace tonalis::lnx
