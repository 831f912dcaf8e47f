// The main window as a GTK top-level: undecorated, kept out of the taskbar and pager,
// stacked by the window manager's keep-above and keep-below states. X11 answers a move
// later, through the window manager: the port keeps the place it asked for until the
// window manager reports it (or reports something else for a while), so the core reads
// back what it set. On a Wayland compositor with layer-shell the window is placed and
// stacked as a layer surface instead (see LayerSurface).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "backend/linux/layer_surface.h"
#include "platform/window_port.h"

namespace tonalis::lnx {

class LinuxWindowPort : public WindowPort {
 public:
  LinuxWindowPort() = default;
  ~LinuxWindowPort() override;
  LinuxWindowPort(const LinuxWindowPort&) = delete;
  LinuxWindowPort& operator=(const LinuxWindowPort&) = delete;

  // Binds the port to the main window before it is realized: gives it the screen's RGBA
  // visual when there is one (so black can be keyed out and faded frames can show), no
  // decorations, no taskbar button, and follows its placement.
  // `content` is the window's only child: on a layer-shell compositor it moves between the
  // window and a layer surface (without it the window stays a plain top-level).
  void attach(GtkWindow* window, GtkWidget* content = nullptr);
  void detach();
  GtkWindow* window() const { return window_; }
  // The window that shows the frames now: the top-level, or its layer surface.
  GtkWindow* shownWindow() const { return layer_ ? layer_->current() : window_; }
  bool onLayerShell() const { return layer_ != nullptr; }

  // The pointer events a system move starts from: the press gives the button, the latest
  // motion the place (the core moves the window to catch up with the pointer first).
  void notePress(const GdkEventButton& event);
  void noteMotion(const GdkEventMotion& event);
  void noteRelease();

  void setStacking(Stacking stacking) override;
  void setClickThrough(bool on) override;
  void setTaskbarButton(bool shown) override;
  Rect windowRect() override { return rect_; }
  void move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) override;
  void show() override;
  void hide() override;
  bool isVisible() override;
  void beginSystemMove() override;
  void setForeground() override;
  bool isOnAnyScreen(const Rect& rect) override;

  // Whether the window has an RGBA visual (alpha can show where a compositor runs).
  bool hasAlphaVisual() const { return rgba_; }

  // Monitor rectangles in screen pixels, in the display's order.
  static bool intersectsAny(const Rect& rect, const Rect* monitors, int count);

 private:
  static gboolean onConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
  void applyStacking();
  void placeLayer();

  GtkWindow* window_ = nullptr;
  gulong configureHandler_ = 0;
  Stacking stacking_ = Stacking::Normal;
  bool taskbarButton_ = true;
  bool rgba_ = false;
  bool inputShapeEmpty_ = false;
  Rect rect_{};
  // A placement asked for and not yet seen from the window manager, and since when (µs).
  std::optional<Rect> pending_;
  int64_t pendingSince_ = 0;
  int placementRetries_ = 0;
  struct Press {
    int button = 1;
    int rootX = 0, rootY = 0;
    double x = 0, y = 0;  // in the window
    uint32_t time = 0;
  };
  std::optional<Press> lastPress_;
  std::unique_ptr<LayerSurface> layer_;  // on a layer-shell compositor
};

}  // namespace tonalis::lnx
