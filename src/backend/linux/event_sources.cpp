#include "backend/linux/event_sources.h"

#include <glib-unix.h>

#include <csignal>
#include <utility>

namespace tonalis::lnx {

void LinuxEventSources::attach(GtkWindow* window) {
  detach();
  // A second start asks for the window through the guard's socket.
  if (instance_.wakeDescriptor() >= 0) {
    wake_ = g_unix_fd_add(instance_.wakeDescriptor(), G_IO_IN, onWake, this);
  }
  // Without it a board plugged in later is not seen until it is connected from the menu,
  // and one pulled out shows as a failed write; the program runs on.
  if (boards_.descriptor() >= 0) board_ = g_unix_fd_add(boards_.descriptor(), G_IO_IN, onBoards, this);
  screen_ = gtk_widget_get_screen(GTK_WIDGET(window));
  monitorsChanged_ = g_signal_connect(screen_, "monitors-changed", G_CALLBACK(onScreenChanged), this);
  sizeChanged_ = g_signal_connect(screen_, "size-changed", G_CALLBACK(onScreenChanged), this);
  // The end of the session (the session manager's SIGTERM): save and end quickly, as
  // Windows' end of session does. An interrupt or a hang-up closes as the menu's exit.
  signals_[0] = g_unix_signal_add(SIGTERM, onTerminate, this);
  signals_[1] = g_unix_signal_add(SIGINT, onInterrupt, this);
  signals_[2] = g_unix_signal_add(SIGHUP, onInterrupt, this);
}

void LinuxEventSources::detach() {
  for (guint* id : {&wake_, &board_, &signals_[0], &signals_[1], &signals_[2]}) {
    if (*id) g_source_remove(*id);
    *id = 0;
  }
  if (screen_) {
    if (monitorsChanged_) g_signal_handler_disconnect(screen_, monitorsChanged_);
    if (sizeChanged_) g_signal_handler_disconnect(screen_, sizeChanged_);
  }
  screen_ = nullptr;
  monitorsChanged_ = sizeChanged_ = 0;
}

gboolean LinuxEventSources::onWake(gint, GIOCondition, gpointer data) {
  auto* self = static_cast<LinuxEventSources*>(data);
  if (self->instance_.takeWakeRequests()) self->deliver_(SecondInstance{});
  return G_SOURCE_CONTINUE;
}

gboolean LinuxEventSources::onBoards(gint, GIOCondition, gpointer data) {
  auto* self = static_cast<LinuxEventSources*>(data);
  for (DeviceChange& change : self->boards_.take()) self->deliver_(std::move(change));
  return G_SOURCE_CONTINUE;
}

void LinuxEventSources::onScreenChanged(GdkScreen*, gpointer data) {
  static_cast<LinuxEventSources*>(data)->deliver_(DisplayChange{});
}

gboolean LinuxEventSources::onTerminate(gpointer data) {
  auto* self = static_cast<LinuxEventSources*>(data);
  self->deliver_(SessionQuery{});
  self->deliver_(SessionEnd{true});
  return G_SOURCE_CONTINUE;
}

gboolean LinuxEventSources::onInterrupt(gpointer data) {
  static_cast<LinuxEventSources*>(data)->post_(CloseRequest{});
  return G_SOURCE_CONTINUE;
}

}  // namespace tonalis::lnx
