#include "backend/linux/presenter.h"

#include <algorithm>

namespace tonalis::lnx {

LinuxPresenter::Buffer::~Buffer() {
  if (keyed) cairo_surface_destroy(keyed);
  if (surface) cairo_surface_destroy(surface);
}

LinuxPresenter::~LinuxPresenter() {
  detach();
  painted_ = nullptr;
  buffers_.clear();
}

void LinuxPresenter::attach(GtkWidget* area) {
  detach();
  area_ = area;
  gtk_widget_set_app_paintable(area, TRUE);
  drawHandler_ = g_signal_connect(area, "draw", G_CALLBACK(onDraw), this);
}

void LinuxPresenter::detach() {
  painter_.unbind();
  if (area_ && drawHandler_) g_signal_handler_disconnect(area_, drawHandler_);
  drawHandler_ = 0;
  area_ = nullptr;
}

PixelView LinuxPresenter::createBuffer(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return {};
  // The canvas addresses rows `width` words apart: a surface with another stride could
  // not wrap its memory.
  if (cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width) != width * 4) return {};
  auto buffer = std::make_unique<Buffer>();
  const size_t count = size_t(width) * size_t(height);
  buffer->memory.reset(new (std::nothrow) uint32_t[count]);
  if (!buffer->memory) return {};
  std::fill_n(buffer->memory.get(), count, 0u);
  buffer->surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(buffer->memory.get()),
                                                        CAIRO_FORMAT_RGB24, width, height, width * 4);
  if (cairo_surface_status(buffer->surface) != CAIRO_STATUS_SUCCESS) return {};
  buffer->view = {buffer->memory.get(), width, height};
  buffers_.push_back(std::move(buffer));
  return buffers_.back()->view;
}

void LinuxPresenter::releaseBuffer(PixelView& view) {
  if (painted_ && painted_->view.pixels == view.pixels) painted_ = nullptr;
  if (shown_ && shown_->source == view.pixels) shown_.reset();
  std::erase_if(buffers_, [&](const auto& b) { return b->view.pixels == view.pixels; });
  view = {};
}

LinuxPresenter::Buffer* LinuxPresenter::find(const uint32_t* pixels) {
  for (auto& b : buffers_) {
    if (b->view.pixels == pixels) return b.get();
  }
  return nullptr;
}

bool LinuxPresenter::alphaShows() const {
  GtkWindow* window = window_.window();
  if (!window || !window_.hasAlphaVisual()) return false;
  return gdk_screen_is_composited(gtk_widget_get_screen(GTK_WIDGET(window))) != FALSE;
}

void LinuxPresenter::toArgb(const PixelView& source, uint32_t* argb, const Rect& area, bool keyBlack) {
  const int32_t right = std::min(area.right, source.width);
  const int32_t bottom = std::min(area.bottom, source.height);
  const int32_t left = std::max(area.left, 0);
  for (int32_t y = std::max(area.top, 0); y < bottom; ++y) {
    const uint32_t* in = source.pixels + size_t(y) * size_t(source.width);
    uint32_t* out = argb + size_t(y) * size_t(source.width);
    if (keyBlack) {
      for (int32_t x = left; x < right; ++x) {
        const uint32_t rgb = in[x] & 0x00FFFFFFu;
        out[x] = rgb == 0 ? 0u : (rgb | 0xFF000000u);
      }
    } else {
      for (int32_t x = left; x < right; ++x) out[x] = in[x] | 0xFF000000u;
    }
  }
}

bool LinuxPresenter::makeArgb(Buffer& buffer) {
  if (buffer.keyed) return true;
  const size_t count = size_t(buffer.view.width) * size_t(buffer.view.height);
  buffer.argbMemory.reset(new (std::nothrow) uint32_t[count]);
  if (!buffer.argbMemory) return false;
  buffer.keyed = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(buffer.argbMemory.get()),
                                                     CAIRO_FORMAT_ARGB32, buffer.view.width, buffer.view.height,
                                                     buffer.view.width * 4);
  if (cairo_surface_status(buffer.keyed) == CAIRO_STATUS_SUCCESS) return true;
  cairo_surface_destroy(buffer.keyed);
  buffer.keyed = nullptr;
  buffer.argbMemory.reset();
  return false;
}

bool LinuxPresenter::canPutDirectly() {
  // The drawing area fills its window from the corner: the window's coordinates are the
  // frame's.
  GtkWidget* top = gtk_widget_get_toplevel(area_);
  GdkWindow* window = top ? gtk_widget_get_window(top) : nullptr;
  if (!window || !gtk_widget_get_mapped(area_)) return false;
  GtkAllocation a;
  gtk_widget_get_allocation(area_, &a);
  return a.x == 0 && a.y == 0 && painter_.bind(window);
}

void LinuxPresenter::present(const Presentation& frame) {
  Buffer* buffer = find(frame.source.pixels);
  if (!buffer || !area_ || frame.size.x <= 0 || frame.size.y <= 0) return;

  // A window manager may still answer an earlier placement after a mode switch: every
  // frame puts the window back where it belongs, even one that sends no pixels.
  const Rect now = window_.windowRect();
  const Point at = frame.destination ? *frame.destination : Point{now.left, now.top};
  if (now.left != at.x || now.top != at.y || now.width() != frame.size.x || now.height() != frame.size.y) {
    window_.move(at.x, at.y, frame.size.x, frame.size.y, true);
  }

  const bool alpha = alphaShows();
  const bool whole = !shown_ || shown_->surface != frame.surface || shown_->source != frame.source.pixels ||
                     shown_->destination != frame.destination || !(shown_->size == frame.size) ||
                     shown_->alpha != frame.constantAlpha || shown_->alphaShows != alpha;
  if (!whole && frame.changed.empty()) return;  // the same picture: nothing to send

  const bool keyed = alpha && frame.surface == Surface::PaintedColorKey;
  const bool direct = !whole && canPutDirectly();
  const bool argb = (keyed || direct) && makeArgb(*buffer);
  paintKeyed_ = keyed && argb;
  painted_ = buffer;
  paintedSize_ = frame.size;

  // The canvas wrote the memory directly; the ARGB copy follows it where it is used.
  cairo_surface_mark_dirty(buffer->surface);
  if (argb) {
    cairo_surface_flush(buffer->keyed);
    if (whole) {
      toArgb(frame.source, buffer->argbMemory.get(), Rect{0, 0, frame.size.x, frame.size.y}, paintKeyed_);
    } else {
      for (const Rect& r : frame.changed) toArgb(frame.source, buffer->argbMemory.get(), r, paintKeyed_);
    }
    cairo_surface_mark_dirty(buffer->keyed);
  }

  if (whole) {
    const bool faded = frame.surface == Surface::PaintedAlpha || frame.surface == Surface::LayeredAlpha;
    const double opacity = alpha && faded ? frame.constantAlpha / 255.0 : 1.0;
    if (opacity != opacity_) {
      opacity_ = opacity;
      gtk_widget_set_opacity(GTK_WIDGET(window_.shownWindow()), opacity);
    }
    gtk_widget_queue_draw(area_);
  } else if (direct && argb) {
    painter_.put(buffer->argbMemory.get(), buffer->view.width, buffer->view.height, frame.changed);
  } else {
    for (const Rect& r : frame.changed) gtk_widget_queue_draw_area(area_, r.left, r.top, r.width(), r.height());
  }
  shown_ = Shown{frame.source.pixels, frame.surface, frame.destination, frame.size, frame.constantAlpha, alpha};
}

gboolean LinuxPresenter::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
  static_cast<LinuxPresenter*>(self)->draw(cr);
  return TRUE;
}

void LinuxPresenter::draw(cairo_t* cr) {
  // GTK has clipped `cr` to the damaged region already.
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  if (!painted_) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    return;
  }
  cairo_set_source_surface(cr, paintKeyed_ ? painted_->keyed : painted_->surface, 0, 0);
  // Where the desktop scales the window up (a Wayland output's whole scale), pixels are
  // repeated rather than blended.
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, 0, 0, paintedSize_.x, paintedSize_.y);
  cairo_fill(cr);
}

}  // namespace tonalis::lnx
