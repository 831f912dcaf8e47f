#include "backend/linux/layer_surface.h"

#include <gdk/gdkwayland.h>
#include <gtk-layer-shell/gtk-layer-shell.h>

#include <algorithm>
#include <vector>

namespace tonalis::lnx {

namespace {

bool contains(const Rect& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

}  // namespace

std::vector<Rect> monitorRects(GdkDisplay* display) {
  std::vector<Rect> rects;
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkRectangle g;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
    rects.push_back({g.x, g.y, g.x + g.width, g.y + g.height});
  }
  return rects;
}

bool layerShellAvailable() {
  GdkDisplay* display = gdk_display_get_default();
  return display && GDK_IS_WAYLAND_DISPLAY(display) && gtk_layer_is_supported();
}

Margins marginsOn(const Rect& rect, const Rect* monitors, int count) {
  int index = 0;
  for (int i = 0; i < count; ++i) {
    if (contains(monitors[i], rect.left, rect.top)) {
      index = i;
      break;
    }
  }
  if (count == 0) return {0, rect.left, rect.top};
  return {index, rect.left - monitors[index].left, rect.top - monitors[index].top};
}

LayerRole layerRoleFor(bool topMost, bool bottom, const Rect& rect, const Rect* monitors, int count) {
  if (bottom) return LayerRole::Desktop;
  if (!topMost) return LayerRole::Toplevel;
  for (int i = 0; i < count; ++i) {
    if (rect == monitors[i]) return LayerRole::FullScreen;
  }
  return LayerRole::Window;
}

LayerSurface::LayerSurface(GtkWindow* toplevel, GtkWidget* content) : toplevel_(toplevel), content_(content) {
  layer_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  GtkWidget* widget = GTK_WIDGET(layer_);
  // As the top-level: black can be keyed out where the compositor blends.
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(widget))) {
    gtk_widget_set_visual(widget, visual);
  }
  gtk_widget_set_app_paintable(widget, TRUE);
  gtk_window_set_title(layer_, "Tonalis");
  gtk_layer_init_for_window(layer_);
  gtk_layer_set_namespace(layer_, "tonalis");
  gtk_layer_set_exclusive_zone(layer_, 0);
  gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                    GDK_KEY_PRESS_MASK);
  g_signal_connect(widget, "event", G_CALLBACK(forwardEvent), toplevel_);
  g_signal_connect(widget, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
}

LayerSurface::~LayerSurface() {
  if (role_ != LayerRole::Toplevel) moveContent(toplevel_);
  gtk_widget_destroy(GTK_WIDGET(layer_));
}

gboolean LayerSurface::forwardEvent(GtkWidget*, GdkEvent* event, gpointer toplevel) {
  gboolean handled = FALSE;
  g_signal_emit_by_name(toplevel, "event", event, &handled);
  return handled;
}

void LayerSurface::moveContent(GtkWindow* to) {
  GtkWindow* from = current();
  if (from == to) return;
  const bool shown = gtk_widget_get_visible(GTK_WIDGET(from));
  g_object_ref(content_);
  gtk_container_remove(GTK_CONTAINER(from), content_);
  gtk_container_add(GTK_CONTAINER(to), content_);
  g_object_unref(content_);
  if (shown) {
    gtk_widget_show(GTK_WIDGET(to));
    gtk_widget_hide(GTK_WIDGET(from));
  }
}

void LayerSurface::place(LayerRole role, const Rect& rect) {
  const Rect before = rect_;
  rect_ = rect;
  const int width = std::max(rect.width(), 1), height = std::max(rect.height(), 1);
  if (role == LayerRole::Toplevel) {
    if (role_ != LayerRole::Toplevel) moveContent(toplevel_);
    role_ = role;
    gtk_window_resize(toplevel_, width, height);
    applyInputRegion();
    return;
  }

  // A shown surface that changes role or size is taken down and put up again in its new
  // place: a compositor (sway 1.7) repaints the place a surface leaves only on the first
  // output, and the old picture stays on any other. (A drag keeps both and moves it as it is.)
  const bool remap = role_ != LayerRole::Toplevel && gtk_widget_get_mapped(GTK_WIDGET(layer_)) &&
                     (role != role_ || rect.width() != before.width() || rect.height() != before.height());
  if (remap) gtk_widget_hide(GTK_WIDGET(layer_));
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(layer_));
  const std::vector<Rect> monitors = monitorRects(display);
  const Margins margins = marginsOn(rect, monitors.data(), int(monitors.size()));
  if (GdkMonitor* monitor = gdk_display_get_monitor(display, margins.monitor); monitor && monitor != monitor_) {
    monitor_ = monitor;
    gtk_layer_set_monitor(layer_, monitor);
  }
  const bool whole = role == LayerRole::FullScreen;
  const GtkLayerShellLayer layer = role == LayerRole::Desktop ? GTK_LAYER_SHELL_LAYER_BOTTOM
                                   : whole                    ? GTK_LAYER_SHELL_LAYER_OVERLAY
                                                              : GTK_LAYER_SHELL_LAYER_TOP;
  gtk_layer_set_layer(layer_, layer);
  gtk_layer_set_anchor(layer_, GTK_LAYER_SHELL_EDGE_LEFT, TRUE);
  gtk_layer_set_anchor(layer_, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
  gtk_layer_set_anchor(layer_, GTK_LAYER_SHELL_EDGE_RIGHT, whole);
  gtk_layer_set_anchor(layer_, GTK_LAYER_SHELL_EDGE_BOTTOM, whole);
  gtk_layer_set_margin(layer_, GTK_LAYER_SHELL_EDGE_LEFT, whole ? 0 : margins.left);
  gtk_layer_set_margin(layer_, GTK_LAYER_SHELL_EDGE_TOP, whole ? 0 : margins.top);
  // Escape must reach the full-screen strip; the desktop strip takes nothing; the window
  // takes keys once clicked, where the compositor can give them on demand.
  GtkLayerShellKeyboardMode keyboard = GTK_LAYER_SHELL_KEYBOARD_MODE_NONE;
  if (whole) {
    keyboard = GTK_LAYER_SHELL_KEYBOARD_MODE_EXCLUSIVE;
  } else if (role == LayerRole::Window && gtk_layer_get_protocol_version() >= 4) {
    keyboard = GTK_LAYER_SHELL_KEYBOARD_MODE_ON_DEMAND;
  }
  gtk_layer_set_keyboard_mode(layer_, keyboard);
  // A layer window is as large as its content asks (the drawing area asks for nothing, and a
  // window of no size is never drawn); anchored to all edges it is the output's size anyway.
  gtk_widget_set_size_request(GTK_WIDGET(layer_), width, height);
  if (role_ == LayerRole::Toplevel) moveContent(layer_);
  role_ = role;
  applyInputRegion();
  if (remap) gtk_widget_show(GTK_WIDGET(layer_));
}

void LayerSurface::setPassThrough(bool passThrough) {
  passThrough_ = passThrough;
  applyInputRegion();
}

void LayerSurface::applyInputRegion() {
  // Both windows: the one not holding the content may hold it next.
  for (GtkWindow* w : {toplevel_, layer_}) setInputPassThrough(w, passThrough_);
}

void setInputPassThrough(GtkWindow* window, bool passThrough) {
  if (!passThrough) {
    gtk_widget_input_shape_combine_region(GTK_WIDGET(window), nullptr);
    return;
  }
  cairo_region_t* none = cairo_region_create();
  gtk_widget_input_shape_combine_region(GTK_WIDGET(window), none);
  cairo_region_destroy(none);
}

void LayerSurface::show() { gtk_widget_show(GTK_WIDGET(current())); }

void LayerSurface::hide() { gtk_widget_hide(GTK_WIDGET(current())); }

bool LayerSurface::isVisible() const { return gtk_widget_get_visible(GTK_WIDGET(current())); }

void LayerSurface::beginDrag(double x, double y) {
  if (role_ == LayerRole::Window) drag_ = Drag{x, y};
}

void LayerSurface::dragTo(double x, double y) {
  if (!drag_) return;
  // The press point stays under the pointer: the surface follows by what the pointer has
  // moved from it, in surface coordinates.
  const int32_t dx = int32_t(x - drag_->pressX), dy = int32_t(y - drag_->pressY);
  if (dx == 0 && dy == 0) return;
  place(role_, Rect{rect_.left + dx, rect_.top + dy, rect_.right + dx, rect_.bottom + dy});
}

}  // namespace tonalis::lnx
