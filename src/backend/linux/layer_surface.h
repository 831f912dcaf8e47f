// The main window on a Wayland compositor with wlr-layer-shell (through gtk-layer-shell):
// there a program cannot place or stack an ordinary window, but a layer surface can be
// anchored to an output's top-left corner with margins, and put on the bottom, top or
// overlay layer. The content (the drawing area) lives in the main window's own top-level
// window while it is an ordinary window (keep-on-top off) and moves into a layer window
// of this class's otherwise; the layer window's events are handed on to the top-level's
// "event" handler, so the program sees one window.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <vector>

#include "common/types.h"

namespace tonalis::lnx {

// The monitors' rectangles in the layout, in the display's order.
std::vector<Rect> monitorRects(GdkDisplay* display);

// Whether GDK's display is a Wayland display whose compositor has wlr-layer-shell.
bool layerShellAvailable();

// Pass-through: an empty input shape, so the pointer reaches whatever is below the window.
void setInputPassThrough(GtkWindow* window, bool passThrough);

// The place a mode gives the window, in the compositor's layout (logical pixels).
enum class LayerRole {
  Toplevel,    // an ordinary window: placed and stacked by the compositor
  Window,      // TOP layer at the saved place (keep-on-top)
  Desktop,     // BOTTOM layer: over the wallpaper, under every window; no keyboard
  FullScreen,  // OVERLAY layer over the whole output; the keyboard is its own
};

// The role of a window with this stacking and rectangle: the display modes say "below
// everything" (Desktop), "topmost over a whole monitor" (FullScreen), "topmost"
// (Window with keep-on-top) or "normal" through the window port's stacking and move.
LayerRole layerRoleFor(bool topMost, bool bottom, const Rect& rect, const Rect* monitors, int count);

// Margins of `rect` from the top-left corner of the monitor that holds its corner (the
// first monitor when none does): what a surface anchored top-left is given, and the index
// of that monitor.
struct Margins {
  int monitor = 0;
  int left = 0, top = 0;
};
Margins marginsOn(const Rect& rect, const Rect* monitors, int count);

class LayerSurface {
 public:
  // `toplevel` is the main window, `content` its only child.
  LayerSurface(GtkWindow* toplevel, GtkWidget* content);
  ~LayerSurface();  // the content goes back to the top-level
  LayerSurface(const LayerSurface&) = delete;
  LayerSurface& operator=(const LayerSurface&) = delete;

  // The window that holds the content now.
  GtkWindow* current() const { return role_ == LayerRole::Toplevel ? toplevel_ : layer_; }
  LayerRole role() const { return role_; }

  // Gives the window `role` at `rect` (layout pixels; FullScreen takes the whole output
  // of `rect`'s corner). Moving between the top-level and the layer window keeps it
  // shown or hidden.
  void place(LayerRole role, const Rect& rect);
  // An empty input region (clicks reach what is below) or the whole surface.
  void setPassThrough(bool passThrough);

  void show();
  void hide();
  bool isVisible() const;

  // The drag of a layer surface: the compositor has no move for it, so the margins follow
  // the pointer. `x, y` are surface coordinates of the press and of each motion.
  void beginDrag(double x, double y);
  bool dragging() const { return drag_.has_value(); }
  void dragTo(double x, double y);
  void endDrag() { drag_.reset(); }
  // Where a drag has put the window (layout pixels): read back by the window port.
  const Rect& rect() const { return rect_; }

 private:
  static gboolean forwardEvent(GtkWidget* widget, GdkEvent* event, gpointer toplevel);
  void moveContent(GtkWindow* to);
  void applyInputRegion();

  GtkWindow* toplevel_;
  GtkWidget* content_;
  GtkWindow* layer_ = nullptr;
  LayerRole role_ = LayerRole::Toplevel;
  GdkMonitor* monitor_ = nullptr;
  Rect rect_{};
  bool passThrough_ = false;
  struct Drag {
    double pressX = 0, pressY = 0;  // surface coordinates of the press
  };
  std::optional<Drag> drag_;
};

}  // namespace tonalis::lnx
