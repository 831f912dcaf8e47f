// The main window as the display-mode and window commands see it: where it stands among the
// other windows, whether clicks pass through it, its taskbar button, placement, visibility
// and the system move loop. Results are not reported because nothing acts on them.
#pragma once

#include <cstdint>

#include "common/types.h"

namespace tonalis {

// Where the window stands among the others.
enum class Stacking : int32_t {
  Above,   // kept above every ordinary window
  Normal,  // among them, raised to their top
  Below,   // below every other window (the desktop strip)
};

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  virtual void setStacking(Stacking stacking) = 0;
  // On: pointer input passes through the window to whatever is below it.
  virtual void setClickThrough(bool on) = 0;
  // Whether the window has a button on the taskbar (the program has only its tray icon).
  virtual void setTaskbarButton(bool shown) = 0;

  // Window rectangle in screen pixels (frame included), right and bottom exclusive.
  virtual Rect windowRect() = 0;
  // Top-left corner in screen pixels, size in pixels; `repaint` draws it there at once.
  virtual void move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) = 0;

  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool isVisible() = 0;

  // Runs the system's move loop as if the window's title had been grabbed; returns when the
  // user lets go.
  virtual void beginSystemMove() = 0;

  virtual void setForeground() = 0;

  // Whether some monitor shows part of `rect` (screen pixels): a window there can be seen.
  virtual bool isOnAnyScreen(const Rect& rect) = 0;
};

}  // namespace tonalis
