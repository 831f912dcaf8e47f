#include "window/window_commands.h"

namespace tonalis {

namespace {

constexpr uint32_t WindowModeSettleMillis = 10;  // lets the style change land before the move

// Leaving Window mode: remember where the window was and whether it let clicks through,
// so that coming back restores them rather than anything set in the other modes.
void saveWindowModePlacement(DisplayState& state, WindowPort& window) {
  const Rect rect = window.windowRect();
  state.savedX = rect.left;
  state.savedY = rect.top;
  state.savedClickThrough = state.clickThrough;
}

}  // namespace

void applyClickThrough(const DisplayState& state, WindowPort& window) {
  window.setClickThrough(state.clickThrough == 1);
}

void applyTransparencyMode(DisplayState& state, WindowPort& window, int32_t mode) {
  state.unlitCellColor = (mode == NoBackground || mode == Minimal) ? UnlitCellBlack : UnlitCellGrey;
  switch (mode) {
    case Alpha20: state.constantAlpha = 180; break;
    case Alpha40: state.constantAlpha = 140; break;
    case Alpha60: state.constantAlpha = 100; break;
    case Alpha80: state.constantAlpha = 60; break;
    default: state.constantAlpha = 255; break;
  }
  applyClickThrough(state, window);
}

void selectTransparencyMode(DisplayState& state, WindowPort& window, bool splashActive,
                            int32_t mode) {
  // The splash is presented unfaded; the saved level is applied when it ends.
  if (splashActive) return;
  state.transparencyMode = mode;
  applyTransparencyMode(state, window, mode);
}

void toggleTopMost(DisplayState& state, WindowPort& window) {
  if (state.topMost == 1) {
    window.setStacking(Stacking::Normal);
    state.topMost = 0;
  } else {
    window.setStacking(Stacking::Above);
    state.topMost = 1;
  }
}

void toggleClickThrough(DisplayState& state, WindowPort& window) {
  state.clickThrough = state.clickThrough == 1 ? 0 : 1;
  applyTransparencyMode(state, window, state.transparencyMode);
}

namespace {

// FullScreen and Desktop: both leave Window mode the same way (saving its placement) and
// differ only in stacking, click-through and how unlit cells look.
void enterStripMode(DisplayState& state, WindowPort& window, bool splashActive, DisplayMode mode,
                    Stacking stacking, int32_t clickThrough, Rgb unlitCellColor) {
  if (splashActive || state.displayMode == mode) return;
  if (state.displayMode == DisplayMode::Window) saveWindowModePlacement(state, window);
  window.setStacking(stacking);
  state.clickThrough = clickThrough;
  state.unlitCellColor = unlitCellColor;
  state.constantAlpha = 255;
  applyClickThrough(state, window);
  state.displayMode = mode;
}

}  // namespace

void enterFullScreenMode(DisplayState& state, WindowPort& window, bool splashActive) {
  enterStripMode(state, window, splashActive, DisplayMode::FullScreen, Stacking::Above, 0, UnlitCellGrey);
}

void enterDesktopMode(DisplayState& state, WindowPort& window, bool splashActive) {
  enterStripMode(state, window, splashActive, DisplayMode::Desktop, Stacking::Below, 1, UnlitCellBlack);
}

void enterWindowMode(DisplayState& state, WindowPort& window, bool splashActive,
                     Point windowSize, Clock& clock) {
  if (splashActive || state.displayMode == DisplayMode::Window) return;
  window.setStacking(state.topMost == 1 ? Stacking::Above : Stacking::Normal);
  state.clickThrough = state.savedClickThrough;
  applyTransparencyMode(state, window, state.transparencyMode);
  clock.sleepMillis(WindowModeSettleMillis);
  window.move(state.savedX, state.savedY, windowSize.x, windowSize.y, true);
  state.displayMode = DisplayMode::Window;
}

void beginWindowDrag(const DisplayState& state, WindowPort& window) {
  if (state.displayMode == DisplayMode::Window) window.beginSystemMove();
}

void pressOnWindow(WindowDrag& drag, const DisplayState& state, Point at) {
  drag.armed = state.displayMode == DisplayMode::Window;
  drag.from = at;
}

void moveOverWindow(WindowDrag& drag, const DisplayState& state, WindowPort& window, Point at,
                    bool leftButtonDown) {
  if (!drag.armed) return;
  if (!leftButtonDown) {
    drag.armed = false;
    return;
  }
  const int32_t dx = at.x - drag.from.x;
  const int32_t dy = at.y - drag.from.y;
  const int32_t t = drag.threshold;
  if (dx < t && dx > -t && dy < t && dy > -t) return;
  drag.armed = false;
  // The loop moves the window with the pointer from where the pointer is now: first catch
  // up with the distance already covered, so the press point stays under the pointer.
  const Rect rect = window.windowRect();
  window.move(rect.left + dx, rect.top + dy, rect.width(), rect.height(), true);
  beginWindowDrag(state, window);
}

void releaseOnWindow(WindowDrag& drag) { drag.armed = false; }

void onWindowDoubleClick(DisplayState& state, WindowPort& window, bool splashActive,
                         Point windowSize, Clock& clock) {
  if (splashActive) return;
  if (state.displayMode == DisplayMode::FullScreen) {
    enterWindowMode(state, window, splashActive, windowSize, clock);
  } else if (state.displayMode == DisplayMode::Window) {
    enterFullScreenMode(state, window, splashActive);
  }
}

void onEscapeKey(DisplayState& state, WindowPort& window, bool splashActive, Point windowSize,
                 Clock& clock) {
  if (state.displayMode == DisplayMode::FullScreen) {
    enterWindowMode(state, window, splashActive, windowSize, clock);
  }
}

void selectSpectrumStyle(DisplayState& state, int32_t style) { state.spectrumStyle = style; }

void applyLoadedSettings(DisplayState& state, WindowPort& window, Point windowSize) {
  applyTransparencyMode(state, window, state.transparencyMode);
  window.move(state.savedX, state.savedY, windowSize.x, windowSize.y, true);
  window.setStacking(state.topMost == 1 ? Stacking::Above : Stacking::Normal);
}

void rememberWindowPosition(DisplayState& state, WindowPort& window) {
  if (state.displayMode != DisplayMode::Window) return;
  const Rect rect = window.windowRect();
  state.savedX = rect.left;
  state.savedY = rect.top;
}

}  // namespace tonalis
