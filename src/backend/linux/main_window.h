// The program's main window on GTK: a top-level window holding one drawing area, whose
// pointer and key events (decoded in event_translation) and close requests go to one
// function (the host's dispatch).
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>

#include "platform/events.h"

namespace tonalis::lnx {

class LinuxMainWindow {
 public:
  // `deliver` answers whether the event was handled.
  explicit LinuxMainWindow(std::function<bool(Event&)> deliver) : deliver_(std::move(deliver)) {}
  ~LinuxMainWindow() { destroy(); }
  LinuxMainWindow(const LinuxMainWindow&) = delete;
  LinuxMainWindow& operator=(const LinuxMainWindow&) = delete;

  // Every pointer event before it is delivered (the window port keeps the press and the
  // motion a system move starts from).
  std::function<void(const GdkEvent& event)> onPointer;

  // Builds the window, not yet shown.
  void create();
  void destroy();
  GtkWindow* window() const { return window_; }
  GtkWidget* drawingArea() const { return area_; }

  void setIcon();
  bool isMinimized() const;

 private:
  static gboolean onEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean onDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  gboolean handleEvent(GdkEvent* event);

  std::function<bool(Event&)> deliver_;
  GtkWindow* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  struct EventKey {
    GdkEventType type;
    guint32 time;
    double x, y;
    guint keyval;
    bool operator==(const EventKey&) const = default;
  };
  std::optional<EventKey> lastEvent_;  // the event seen last, and what it was answered
  gboolean lastEventAnswer_ = FALSE;
};

}  // namespace tonalis::lnx
