// The main window as the display-mode and window commands see it: stacking, extended
// styles, placement, visibility and the system move loop. Each operation is one user32
// call on the main window; results are not reported because nothing acts on them.
#pragma once

#include <cstdint>

#include "common/types.h"

namespace tonalis {

// Insert-after values of SetWindowPos.
enum class ZOrder : int32_t {
  TopMost,     // HWND_TOPMOST: above every non-topmost window, stays there
  NoTopMost,   // HWND_NOTOPMOST: leaves the topmost band, placed above the others
  Bottom,      // HWND_BOTTOM: below every other window (and no longer topmost)
};

// Extended window style bits (GWL_EXSTYLE), with their Windows values.
inline constexpr uint32_t ExStyleLayered = 0x00080000;      // WS_EX_LAYERED
inline constexpr uint32_t ExStyleTransparent = 0x00000020;  // WS_EX_TRANSPARENT: mouse passes through
inline constexpr uint32_t ExStyleToolWindow = 0x00000080;   // WS_EX_TOOLWINDOW: no taskbar button

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // Changes only the stacking: SetWindowPos with position and size 0 and
  // SWP_NOSIZE | SWP_NOMOVE.
  virtual void restack(ZOrder insertAfter) = 0;

  // The whole extended style word, read and written as one value.
  virtual uint32_t extendedStyle() = 0;
  virtual void setExtendedStyle(uint32_t style) = 0;

  // Window rectangle in screen pixels (frame included), right and bottom exclusive.
  virtual Rect windowRect() = 0;
  // MoveWindow: top-left corner in screen pixels, size in pixels.
  virtual void move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) = 0;

  virtual void show() = 0;        // SW_SHOWNORMAL
  virtual void hide() = 0;        // SW_HIDE
  virtual bool isVisible() = 0;   // IsWindowVisible

  // Runs the system move loop as if the caption had been grabbed
  // (WM_SYSCOMMAND, SC_MOVE | HTCAPTION); returns when the user lets go.
  virtual void beginSystemMove() = 0;

  virtual void setForeground() = 0;

  // Whether some monitor shows part of `rect` (screen pixels): a window there can be seen.
  virtual bool isOnAnyScreen(const Rect& rect) = 0;
};

}  // namespace tonalis
