#include "backend/linux/window_port.h"

#include <algorithm>
#include <vector>

namespace tonalis::lnx {

namespace {

// How long a placement asked for wins over the window manager's reports, and how often it is
// asked again in that time; after that the window manager may have reasons (keeping the
// window on screen), and its word stands.
constexpr int64_t PendingPlacementMicros = 500'000;
constexpr int MaxPlacementRetries = 3;

}  // namespace

LinuxWindowPort::~LinuxWindowPort() { detach(); }

void LinuxWindowPort::attach(GtkWindow* window, GtkWidget* content) {
  detach();
  window_ = window;
  GtkWidget* widget = GTK_WIDGET(window);
  GdkScreen* screen = gtk_widget_get_screen(widget);
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen); visual && !gtk_widget_get_realized(widget)) {
    gtk_widget_set_visual(widget, visual);
    rgba_ = true;
  }
  gtk_widget_set_app_paintable(widget, TRUE);
  gtk_window_set_decorated(window, FALSE);
  gtk_window_set_resizable(window, TRUE);
  gtk_window_set_skip_pager_hint(window, TRUE);
  gtk_window_set_skip_taskbar_hint(window, !taskbarButton_);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
  gtk_window_set_title(window, "Tonalis");
  int x = 0, y = 0, width = 0, height = 0;
  gtk_window_get_position(window, &x, &y);
  gtk_window_get_size(window, &width, &height);
  rect_ = {x, y, x + width, y + height};
  configureHandler_ = g_signal_connect(widget, "configure-event", G_CALLBACK(onConfigure), this);
  if (content && layerShellAvailable()) layer_ = std::make_unique<LayerSurface>(window, content);
}

void LinuxWindowPort::detach() {
  layer_.reset();
  if (window_ && configureHandler_) g_signal_handler_disconnect(window_, configureHandler_);
  configureHandler_ = 0;
  window_ = nullptr;
}

gboolean LinuxWindowPort::onConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer data) {
  auto* self = static_cast<LinuxWindowPort*>(data);
  // A hidden window keeps its place: what the window manager reports while taking it off
  // the screen (its frame's corner, the root's origin) is not where it will show again.
  if (!gtk_widget_get_mapped(widget)) return FALSE;
  // A Wayland client is not told where its window is: the place is the one it was given.
  if (self->layer_) {
    self->rect_.right = self->rect_.left + event->width;
    self->rect_.bottom = self->rect_.top + event->height;
    return FALSE;
  }
  const Rect reported{event->x, event->y, event->x + event->width, event->y + event->height};
  if (self->pending_ && g_get_monotonic_time() - self->pendingSince_ < PendingPlacementMicros) {
    if (reported == *self->pending_) {
      self->rect_ = reported;
    } else if (self->placementRetries_ < MaxPlacementRetries) {
      // Taken elsewhere while being mapped (a window manager may place a window shown again
      // by its own rules after honouring the position): asked again, a few times.
      ++self->placementRetries_;
      gtk_window_move(self->window_, self->pending_->left, self->pending_->top);
      gtk_window_resize(self->window_, self->pending_->width(), self->pending_->height());
    }
    return FALSE;
  }
  self->pending_.reset();
  self->rect_ = reported;
  return FALSE;
}

void LinuxWindowPort::notePress(const GdkEventButton& event) {
  lastPress_ = Press{int(event.button), int(event.x_root), int(event.y_root), event.x, event.y, event.time};
}

void LinuxWindowPort::noteMotion(const GdkEventMotion& event) {
  if (layer_ && layer_->dragging()) {
    layer_->dragTo(event.x, event.y);
    rect_ = layer_->rect();
    return;
  }
  if (!lastPress_) return;
  lastPress_->rootX = int(event.x_root);
  lastPress_->rootY = int(event.y_root);
  lastPress_->time = event.time;
}

void LinuxWindowPort::noteRelease() {
  if (layer_) layer_->endDrag();
}

void LinuxWindowPort::placeLayer() {
  const std::vector<Rect> monitors = monitorRects(gtk_widget_get_display(GTK_WIDGET(window_)));
  layer_->place(layerRoleFor(stacking_ == Stacking::Above, stacking_ == Stacking::Below, rect_, monitors.data(),
                             int(monitors.size())),
                rect_);
}

void LinuxWindowPort::applyStacking() {
  if (!window_) return;
  gtk_window_set_keep_above(window_, stacking_ == Stacking::Above);
  gtk_window_set_keep_below(window_, stacking_ == Stacking::Below);
}

void LinuxWindowPort::setStacking(Stacking stacking) {
  stacking_ = stacking;
  if (layer_) {
    placeLayer();
    return;
  }
  applyStacking();
  if (!window_) return;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  if (!gdk) return;
  // Leaving the band: to the top of the ordinary windows, or below them all.
  if (stacking == Stacking::Below) {
    gdk_window_lower(gdk);
  } else {
    gdk_window_raise(gdk);
  }
}

void LinuxWindowPort::setClickThrough(bool passThrough) {
  if (!window_) return;
  if (layer_) layer_->setPassThrough(passThrough);
  if (passThrough != inputShapeEmpty_ && !layer_) {
    inputShapeEmpty_ = passThrough;
    setInputPassThrough(window_, passThrough);
  }
}

void LinuxWindowPort::setTaskbarButton(bool shown) {
  taskbarButton_ = shown;
  if (window_) gtk_window_set_skip_taskbar_hint(window_, !shown);
}

void LinuxWindowPort::move(int32_t x, int32_t y, int32_t width, int32_t height, bool) {
  const Rect wanted{x, y, x + std::max(width, 1), y + std::max(height, 1)};
  rect_ = wanted;
  if (!window_) return;
  if (layer_) {
    placeLayer();
    return;
  }
  pending_ = wanted;
  pendingSince_ = g_get_monotonic_time();
  placementRetries_ = 0;
  gtk_window_move(window_, x, y);
  gtk_window_resize(window_, std::max(width, 1), std::max(height, 1));
}

void LinuxWindowPort::show() {
  if (!window_) return;
  if (layer_) {
    layer_->show();
    return;
  }
  const bool wasHidden = !gtk_widget_get_visible(GTK_WIDGET(window_));
  if (wasHidden) {
    // A window mapped again is placed by the window manager unless it is told again.
    gtk_window_move(window_, rect_.left, rect_.top);
    pending_ = rect_;
    pendingSince_ = g_get_monotonic_time();
    placementRetries_ = 0;
  }
  gtk_widget_show(GTK_WIDGET(window_));
  // The window manager forgets the states of an unmapped window.
  applyStacking();
}

void LinuxWindowPort::hide() {
  if (layer_) {
    layer_->hide();
  } else if (window_) {
    gtk_widget_hide(GTK_WIDGET(window_));
  }
}

bool LinuxWindowPort::isVisible() { return window_ && gtk_widget_get_visible(GTK_WIDGET(shownWindow())); }

void LinuxWindowPort::beginSystemMove() {
  if (!window_ || !lastPress_) return;
  if (layer_ && layer_->role() != LayerRole::Toplevel) {
    layer_->beginDrag(lastPress_->x, lastPress_->y);
    return;
  }
  // From here the window manager moves the window: its reports are the place.
  pending_.reset();
  gtk_window_begin_move_drag(window_, lastPress_->button, lastPress_->rootX, lastPress_->rootY, lastPress_->time);
}

void LinuxWindowPort::setForeground() {
  if (window_) gtk_window_present(shownWindow());
}

bool LinuxWindowPort::intersectsAny(const Rect& rect, const Rect* monitors, int count) {
  for (int i = 0; i < count; ++i) {
    const Rect& m = monitors[i];
    if (std::max(rect.left, m.left) < std::min(rect.right, m.right) &&
        std::max(rect.top, m.top) < std::min(rect.bottom, m.bottom)) {
      return true;
    }
  }
  return false;
}

bool LinuxWindowPort::isOnAnyScreen(const Rect& rect) {
  GdkDisplay* display = window_ ? gtk_widget_get_display(GTK_WIDGET(window_)) : gdk_display_get_default();
  if (!display) return false;
  std::vector<Rect> monitors;
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkRectangle g;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
    monitors.push_back({g.x, g.y, g.x + g.width, g.y + g.height});
  }
  return intersectsAny(rect, monitors.data(), int(monitors.size()));
}

}  // namespace tonalis::lnx
