#include "backend/linux/x_painter.h"

#include <algorithm>
#include <bit>

// X11's headers last: their macros (KeyPress, None, Status) would clash with other names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

namespace tonalis::lnx {

XPainter::~XPainter() { unbind(); }

void XPainter::unbind() {
  if (gc_ && display_) XFreeGC(display_, gc_);
  gc_ = nullptr;
  bound_ = nullptr;
  display_ = nullptr;
  drawable_ = 0;
  usable_ = false;
}

bool XPainter::bind(GdkWindow* window) {
  if (!window || !GDK_IS_X11_WINDOW(window)) {
    unbind();
    return false;
  }
  const ::Window xid = gdk_x11_window_get_xid(window);
  if (window == bound_ && xid == drawable_) return usable_;
  unbind();
  bound_ = window;
  drawable_ = xid;
  display_ = gdk_x11_display_get_xdisplay(gdk_window_get_display(window));
  GdkVisual* visual = gdk_window_get_visual(window);
  guint32 red = 0, green = 0, blue = 0;
  gdk_visual_get_red_pixel_details(visual, &red, nullptr, nullptr);
  gdk_visual_get_green_pixel_details(visual, &green, nullptr, nullptr);
  gdk_visual_get_blue_pixel_details(visual, &blue, nullptr, nullptr);
  depth_ = gdk_visual_get_depth(visual);
  usable_ = red == 0xFF0000u && green == 0x00FF00u && blue == 0x0000FFu && (depth_ == 24 || depth_ == 32) &&
            gdk_window_get_scale_factor(window) == 1;
  if (usable_) {
    gc_ = XCreateGC(display_, drawable_, 0, nullptr);
    usable_ = gc_ != nullptr;
  }
  return usable_;
}

void XPainter::put(const uint32_t* pixels, int32_t width, int32_t height, std::span<const Rect> areas) {
  if (!usable_ || !pixels || width <= 0 || height <= 0) return;
  // The image only describes the memory, words in this machine's byte order; Xlib converts
  // to the server's itself. Filled in here, so a frame allocates nothing.
  XImage image{};
  image.width = width;
  image.height = height;
  image.format = ZPixmap;
  image.data = reinterpret_cast<char*>(const_cast<uint32_t*>(pixels));
  image.byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  image.bitmap_unit = 32;
  image.bitmap_bit_order = image.byte_order;
  image.bitmap_pad = 32;
  image.depth = depth_;
  image.bytes_per_line = width * 4;
  image.bits_per_pixel = 32;
  image.red_mask = 0xFF0000u;
  image.green_mask = 0x00FF00u;
  image.blue_mask = 0x0000FFu;
  if (!XInitImage(&image)) return;
  for (const Rect& r : areas) {
    const int32_t left = std::max(r.left, 0), top = std::max(r.top, 0);
    const int32_t right = std::min(r.right, width), bottom = std::min(r.bottom, height);
    if (right <= left || bottom <= top) continue;
    XPutImage(display_, drawable_, gc_, &image, left, top, left, top, unsigned(right - left), unsigned(bottom - top));
  }
  XFlush(display_);
}

}  // namespace tonalis::lnx
