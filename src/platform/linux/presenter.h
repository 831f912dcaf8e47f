// Frame buffers as cairo RGB24 image surfaces over the canvas's own memory, painted into
// the main window's drawing area: a frame queues redraws of the rectangles it changed
// and the area's draw handler copies them from the buffer. Faded frames set the window's
// opacity; keyed frames paint from an ARGB32 copy where black is transparent. Both need
// a compositing manager: without one the window shows the frames opaque.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/window_port.h"
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
  // Paints `region` of the last frame onto the window at once; false when it cannot yet.
  bool paintNow(const cairo_region_t* region);

  // Black pixels of `area` to transparent, the others opaque: source (RGB24) words to
  // premultiplied ARGB32 words of the same layout.
  static void keyBlack(const PixelView& source, uint32_t* keyed, const Rect& area);

 private:
  struct Buffer {
    std::unique_ptr<uint32_t[]> memory;
    PixelView view;
    cairo_surface_t* surface = nullptr;
    std::unique_ptr<uint32_t[]> keyedMemory;  // made at the first keyed frame
    cairo_surface_t* keyed = nullptr;
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
  static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);

  LinuxWindowPort& window_;
  GtkWidget* area_ = nullptr;
  std::vector<cairo_rectangle_int_t> boxes_;  // a frame's changed rectangles, kept for the next
  gulong drawHandler_ = 0;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  std::optional<Shown> shown_;
  Buffer* painted_ = nullptr;  // what the draw handler copies from
  bool paintKeyed_ = false;
  Point paintedSize_;
  double opacity_ = 1.0;
};

}  // namespace tonalis::lnx
