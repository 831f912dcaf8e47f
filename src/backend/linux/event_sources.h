// The native sources of the program's events besides its window: a second start asking
// for the window (the instance guard's socket), boards coming and going (the udev monitor),
// the screens changing, and the session manager's signals. Attached to the main loop while
// the main window is there; what they hear goes to the host as events.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "backend/linux/hid_host.h"
#include "backend/linux/instance_guard.h"
#include "platform/events.h"

namespace tonalis::lnx {

class LinuxEventSources {
 public:
  // `deliver` hands an event to the program now; `post` queues it for after the current
  // callback (a signal handler must not run the exit inside GLib's signal source).
  LinuxEventSources(LinuxInstanceGuard& instance, HidMonitor& boards, std::function<void(Event&&)> deliver,
                    std::function<void(const Event&)> post)
      : instance_(instance), boards_(boards), deliver_(std::move(deliver)), post_(std::move(post)) {}
  ~LinuxEventSources() { detach(); }
  LinuxEventSources(const LinuxEventSources&) = delete;
  LinuxEventSources& operator=(const LinuxEventSources&) = delete;

  // `window` names the screen whose changes count.
  void attach(GtkWindow* window);
  void detach();

 private:
  static gboolean onWake(gint, GIOCondition, gpointer self);
  static gboolean onBoards(gint, GIOCondition, gpointer self);
  static void onScreenChanged(GdkScreen*, gpointer self);
  static gboolean onTerminate(gpointer self);
  static gboolean onInterrupt(gpointer self);

  LinuxInstanceGuard& instance_;
  HidMonitor& boards_;
  std::function<void(Event&&)> deliver_;
  std::function<void(const Event&)> post_;
  guint wake_ = 0;
  guint board_ = 0;
  guint signals_[3] = {};
  GdkScreen* screen_ = nullptr;
  gulong monitorsChanged_ = 0, sizeChanged_ = 0;
};

}  // namespace tonalis::lnx
