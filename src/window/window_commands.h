// Display modes (Window, FullScreen, Desktop) and the window commands of the tray menu
// and the mouse. Every handler changes fields of the DisplayState and the window's
// stacking and click-through, nothing else: the next frame shows the change.
//
// `splashActive` is the value of the central record's flag at the time of the call;
// the mode, transparency and double-click handlers do nothing while it is true.
// `windowSize` is the window-mode client size (443 x 145), in pixels.
// All of this runs on the UI thread.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "platform/clock.h"
#include "platform/window_port.h"
#include "window/display_state.h"

namespace tonalis {

// Lets clicks through the window exactly when clickThrough is 1.
void applyClickThrough(const DisplayState& state, WindowPort& window);

// unlitCellColor and constantAlpha for `mode` (any int; 1..4 fade, 5 and 6 key out black,
// everything else is opaque grey), then applyClickThrough. Does not write
// transparencyMode.
void applyTransparencyMode(DisplayState& state, WindowPort& window, int32_t mode);

// The seven transparency commands: transparencyMode := mode, then applies it.
void selectTransparencyMode(DisplayState& state, WindowPort& window, bool splashActive,
                            int32_t mode);

void toggleTopMost(DisplayState& state, WindowPort& window);
void toggleClickThrough(DisplayState& state, WindowPort& window);

// Leaving Window mode saves the window's top-left corner and clickThrough; moving
// between FullScreen and Desktop saves nothing. Neither moves nor resizes the window:
// the presentation places it from the next frame on.
void enterFullScreenMode(DisplayState& state, WindowPort& window, bool splashActive);
void enterDesktopMode(DisplayState& state, WindowPort& window, bool splashActive);

// Restores stacking, click-through and transparency, waits 10 ms on `clock`, then moves
// the window back to (savedX, savedY) at `windowSize`.
void enterWindowMode(DisplayState& state, WindowPort& window, bool splashActive,
                     Point windowSize, Clock& clock);

// Starts the system move loop (the whole spectrum area drags the window), in Window mode
// only. The caller passes the mouse message on to default processing in every mode.
void beginWindowDrag(const DisplayState& state, WindowPort& window);

// Dragging with the left button. A press only arms the drag; the move loop starts once the
// pointer has moved DragThreshold pixels with the button held. So a click stays a click,
// and the second press of a double-click reaches the window even where the system hands
// its move loop to a window manager that keeps the pointer (X11 under Wine).
inline constexpr int32_t DragThreshold = 4;  // pixels, the system's default drag distance
struct WindowDrag {
  bool armed = false;
  Point from;  // client coordinates of the press
  int32_t threshold = DragThreshold;  // the distance in the window's pixels at its scale
};
void pressOnWindow(WindowDrag& drag, const DisplayState& state, Point at);
void moveOverWindow(WindowDrag& drag, const DisplayState& state, WindowPort& window, Point at,
                    bool leftButtonDown);
void releaseOnWindow(WindowDrag& drag);

// Left double-click on the window: Window <-> FullScreen; nothing in Desktop mode.
void onWindowDoubleClick(DisplayState& state, WindowPort& window, bool splashActive,
                         Point windowSize, Clock& clock);

// Esc key-down from the key filter: leaves FullScreen for Window; nothing otherwise.
void onEscapeKey(DisplayState& state, WindowPort& window, bool splashActive, Point windowSize,
                 Clock& clock);

// The six style commands: the next frame draws the new style.
void selectSpectrumStyle(DisplayState& state, int32_t style);

// The last step of loading the settings, once the eight values are in `state`:
// applies the transparency mode, moves the window to (savedX, savedY) at `windowSize`
// (repainting) and sets its stacking (above or among the others) from topMost. The caller applies the
// colour theme.
void applyLoadedSettings(DisplayState& state, WindowPort& window, Point windowSize);

// Before saving: in Window mode savedX and savedY take the window's current top-left
// corner; in the other modes they keep the position saved when Window mode was left.
void rememberWindowPosition(DisplayState& state, WindowPort& window);

}  // namespace tonalis
