#include "backend/linux/app_host.h"

#include <gdk/gdkx.h>

#include "backend/linux/about_box.h"

namespace tonalis::lnx {

LinuxAppHost::LinuxAppHost()
    : window_([this](Event& event) { return deliver(event); }), queue_([this](Event& event) { deliver(event); }) {}

LinuxAppHost::~LinuxAppHost() {
  // Only when something failed on the way out: what onDestroying would unbind is gone by now.
  onDestroying = nullptr;
  closeAbout();
  destroyMainWindow();
}

bool LinuxAppHost::createMainWindow() {
  window_.create();
  if (onCreated) onCreated(window_.window(), window_.drawingArea());
  queue_.open();
  return true;
}

void LinuxAppHost::destroyMainWindow() {
  // What was posted and not yet delivered goes with the window, and so do the timers.
  queue_.close();
  if (!window_.window()) return;
  if (onDestroying) onDestroying(window_.window());
  window_.destroy();
}

bool LinuxAppHost::deliver(Event& event) {
  if (!handler_) return false;
  // No C++ exception may unwind into GTK's C code that called us: a failed handler
  // leaves the event to default processing and the program goes on.
  try {
    return handler_(event);
  } catch (...) {
    g_warning("Tonalis: an event handler failed");
  }
  return false;
}

bool LinuxAppHost::setTimer(uint32_t id, uint32_t periodMillis) {
  queue_.setTimer(id, periodMillis);
  return true;
}

void LinuxAppHost::run() {
  if (window_.window() && !quitting_) {
    if (showWindow) {
      showWindow();
    } else {
      gtk_widget_show(GTK_WIDGET(window_.window()));
    }
    loop_ = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }
  closeAbout();
  destroyMainWindow();
}

void LinuxAppHost::quit() {
  quitting_ = true;
  // Nothing posted is delivered after the exit (the exit has done what they asked for).
  queue_.close();
  if (loop_) g_main_loop_quit(loop_);
}

void LinuxAppHost::showAbout(const AboutInfo& info) {
  if (quitting_ || !shell_) return;
  if (about_) {
    // One box at a time: the open one comes forward.
    gtk_window_present(GTK_WINDOW(about_));
    return;
  }
  about_ = createAboutBox(window_.window(), info, *shell_, x11Scale_);
  // Gone when closed (its button, Escape, the window manager's close).
  g_signal_connect(about_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     static_cast<LinuxAppHost*>(self)->about_ = nullptr;
                   }),
                   this);
  gtk_widget_show(about_);
}

void LinuxAppHost::closeAbout() {
  if (about_) gtk_widget_destroy(about_);
  about_ = nullptr;
}

std::vector<Monitor> LinuxAppHost::monitors() {
  std::vector<Monitor> list;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return list;
  const auto toRect = [](const GdkRectangle& g) { return Rect{g.x, g.y, g.x + g.width, g.y + g.height}; };
  GdkMonitor* primary = gdk_display_get_primary_monitor(display);
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle area, work;
    gdk_monitor_get_geometry(monitor, &area);
    gdk_monitor_get_workarea(monitor, &work);
    // Without a primary monitor (some Wayland compositors) the first one stands in.
    const bool isPrimary = primary ? monitor == primary : i == 0;
    const double scale = GDK_IS_X11_DISPLAY(display) ? double(x11Scale_) : 1.0;
    list.push_back({toRect(area), toRect(work), isPrimary, scale});
  }
  return list;
}

}  // namespace tonalis::lnx
