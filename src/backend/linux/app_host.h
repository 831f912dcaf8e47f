// The GTK side of the application's host: GLib's main loop, the main window and the UI
// queue (events posted from any thread, timers), the monitors as GDK reports them, and the
// About box.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "platform/app_host.h"
#include "platform/shell.h"
#include "backend/linux/main_window.h"
#include "backend/linux/ui_queue.h"

namespace tonalis::lnx {

class LinuxAppHost : public AppHost {
 public:
  LinuxAppHost();
  ~LinuxAppHost() override;
  LinuxAppHost(const LinuxAppHost&) = delete;
  LinuxAppHost& operator=(const LinuxAppHost&) = delete;

  // The scale the desktop asks of programs on X11 (GDK_SCALE, or the desktop's setting),
  // taken before GDK is held to one window pixel per screen pixel: the frames are then drawn
  // at that scale in screen pixels. On Wayland the compositor's buffer scale repeats the
  // frame's pixels instead, and the monitors report 1.
  void setX11Scale(int scale) { x11Scale_ = scale < 1 ? 1 : scale; }

  LinuxMainWindow& mainWindow() { return window_; }
  GtkWindow* window() const { return window_.window(); }
  // The main window exists (not yet shown) / is about to go: the backend binds and unbinds
  // its window port, presenter and event sources.
  std::function<void(GtkWindow* window, GtkWidget* area)> onCreated;
  std::function<void(GtkWindow* window)> onDestroying;
  // How the main window is shown when the loop starts (the window port's show, which keeps
  // its place); plain gtk_widget_show when unset.
  std::function<void()> showWindow;
  // The shell the About box opens its link with (and tells a failure through).
  void useShell(Shell& shell) { shell_ = &shell; }

  // Also opens the queue to what is posted.
  bool createMainWindow() override;
  // Hands an event to the application now (UI thread). True when it was handled.
  bool deliver(Event& event);
  bool deliver(Event&& event) { return deliver(event); }

  void setHandler(EventHandler handler) override { handler_ = std::move(handler); }
  void post(const Event& event) override { queue_.post(event); }
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override { queue_.killTimer(id); }
  std::vector<Monitor> monitors() override;
  void setWindowIcon() override { window_.setIcon(); }
  bool isMinimized() override { return window_.isMinimized(); }
  void run() override;
  void quit() override;
  void showAbout(const AboutInfo& info) override;

 private:
  void destroyMainWindow();
  void closeAbout();

  EventHandler handler_;
  LinuxMainWindow window_;
  LinuxUiQueue queue_;
  Shell* shell_ = nullptr;
  int x11Scale_ = 1;
  GMainLoop* loop_ = nullptr;
  bool quitting_ = false;
  GtkWidget* about_ = nullptr;  // the About box while it is open
};

}  // namespace tonalis::lnx
