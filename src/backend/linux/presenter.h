// Frame buffers as cairo RGB24 image surfaces over the canvas's own memory. A frame's
// changed rectangles go straight onto the window's X drawable (see XPainter) from an
// ARGB copy of them, opaque or with black transparent; a whole new picture, and a window
// whose pixels cannot be put so, is painted by the drawing area's draw handler through
// GTK. Faded frames set the window's opacity; keyed frames make black transparent. Both
// need a compositing manager: without one the window shows the frames opaque.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <vector>

#include "backend/linux/window_port.h"
#include "backend/linux/x_painter.h"
#include "platform/presenter.h"

namespace tonalis::lnx {

class LinuxPresenter : public Presenter {
 public:
  explicit LinuxPresenter(LinuxWindowPort& window) : window_(window) {}
  ~LinuxPresenter() override;
  LinuxPresenter(const LinuxPresenter&) = delete;
  LinuxPresenter& operator=(const LinuxPresenter&) = delete;

  // The widget the frames are painted into (the main window's drawing area): its draw
  // handler becomes the presenter's.
  void attach(GtkWidget* area);
  void detach();

  PixelView createBuffer(int32_t width, int32_t height) override;
  void releaseBuffer(PixelView& buffer) override;
  void present(const Presentation& frame) override;
  bool paintsWindow() override { return painted_ != nullptr; }
  bool repaint() override { return painted_ != nullptr; }

  // False while transparency cannot show (no compositing manager, or no RGBA visual):
  // faded and keyed frames are then shown opaque.
  bool alphaShows() const;

  // Paints the clip region of `cr` from the last frame: the drawing area's draw handler.
  void draw(cairo_t* cr);

  // Source (RGB24) words of `area` to premultiplied ARGB32 words of the same layout:
  // black transparent and the rest opaque when `keyBlack`, all opaque otherwise.
  static void toArgb(const PixelView& source, uint32_t* argb, const Rect& area, bool keyBlack);

 private:
  struct Buffer {
    std::unique_ptr<uint32_t[]> memory;
    PixelView view;
    cairo_surface_t* surface = nullptr;
    std::unique_ptr<uint32_t[]> argbMemory;  // made when first needed
    cairo_surface_t* keyed = nullptr;        // over argbMemory
    ~Buffer();
  };
  struct Shown {
    const uint32_t* source = nullptr;
    Surface surface = Surface::Opaque;
    std::optional<Point> destination;
    Point size;
    uint8_t alpha = 0;
    bool alphaShows = false;
  };
  Buffer* find(const uint32_t* pixels);
  bool makeArgb(Buffer& buffer);
  // True when changed rectangles can be put straight onto the drawing area's window;
  // false when they cannot (not on the screen yet, not at the window's corner, not an X11
  // window whose pixels are stored as the frames'), and GTK paints them.
  bool canPutDirectly();
  static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);

  LinuxWindowPort& window_;
  GtkWidget* area_ = nullptr;
  XPainter painter_;
  gulong drawHandler_ = 0;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  std::optional<Shown> shown_;
  Buffer* painted_ = nullptr;  // what the draw handler copies from
  bool paintKeyed_ = false;
  Point paintedSize_;
  double opacity_ = 1.0;
};

}  // namespace tonalis::lnx
