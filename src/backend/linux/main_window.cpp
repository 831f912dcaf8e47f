#include "backend/linux/main_window.h"

#include "backend/linux/event_translation.h"
#include "backend/linux/tray_port.h"
#include "common/types.h"

namespace tonalis::lnx {

void LinuxMainWindow::create() {
  if (window_) return;
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_default_size(window_, WindowWidth, WindowHeight);
  area_ = gtk_drawing_area_new();
  const gint mask = GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK | GDK_KEY_PRESS_MASK;
  gtk_widget_add_events(area_, mask);
  gtk_widget_add_events(GTK_WIDGET(window_), mask);
  gtk_container_add(GTK_CONTAINER(window_), area_);
  gtk_widget_show(area_);
  g_signal_connect(window_, "event", G_CALLBACK(onEvent), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

void LinuxMainWindow::destroy() {
  if (!window_) return;
  GtkWidget* widget = GTK_WIDGET(window_);
  window_ = nullptr;
  area_ = nullptr;
  gtk_widget_destroy(widget);
}

void LinuxMainWindow::setIcon() {
  if (!window_) return;
  if (GdkPixbuf* icon = loadProgramIcon()) {
    gtk_window_set_icon(window_, icon);
    g_object_unref(icon);
  }
}

bool LinuxMainWindow::isMinimized() const {
  if (!window_) return false;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  return gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED);
}

gboolean LinuxMainWindow::onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Event close = CloseRequest{};
  static_cast<LinuxMainWindow*>(data)->deliver_(close);
  return TRUE;  // the program decides when its window goes
}

gboolean LinuxMainWindow::onEvent(GtkWidget*, GdkEvent* event, gpointer data) {
  auto* self = static_cast<LinuxMainWindow*>(data);
  // GTK may hand a window the same event twice (a grab's route and its own): it is one
  // event to the program.
  EventKey key{event->type, gdk_event_get_time(event), 0, 0, 0};
  gdk_event_get_coords(event, &key.x, &key.y);
  gdk_event_get_keyval(event, &key.keyval);
  if (self->lastEvent_ && *self->lastEvent_ == key) return self->lastEventAnswer_;
  self->lastEvent_ = key;
  self->lastEventAnswer_ = self->handleEvent(event);
  return self->lastEventAnswer_;
}

gboolean LinuxMainWindow::handleEvent(GdkEvent* event) {
  const bool pointer = event->type == GDK_BUTTON_PRESS || event->type == GDK_2BUTTON_PRESS ||
                       event->type == GDK_BUTTON_RELEASE || event->type == GDK_MOTION_NOTIFY;
  if (pointer && onPointer) onPointer(*event);
  std::optional<Event> translated = eventFromGdk(*event);
  if (!translated) return FALSE;
  deliver_(*translated);
  // The window's surface is all the program's.
  return TRUE;
}

}  // namespace tonalis::lnx
