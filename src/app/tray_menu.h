// The tray icon's pop-up menu as data. It is rebuilt at every opening from the state
// below: the two switching labels, one check mark per group, and the items that do not
// apply outside Window mode greyed.
#pragma once

#include <cstdint>
#include <vector>

#include "common/types.h"
#include "platform/tray_port.h"
#include "window/display_state.h"

namespace tonalis {

// What the menu shows. The int fields take any value: one outside its group's range
// checks nothing in that group (a hand-edited settings file can hold such values).
// topMost and clickThrough are checked when exactly 1; savedX and savedY are not shown.
struct TrayMenuState : Settings {
  bool boardConnected = false;   // first item reads "断开小板" instead of "连接小板"
  bool windowVisible = true;     // second item reads "隐藏界面" instead of "显示界面"
  DisplayMode displayMode = DisplayMode::Window;  // out of range: checks "窗口显示"
};

TrayMenuState trayMenuState(const DisplayState& display, bool boardConnected,
                            bool windowVisible);

// The whole menu, top level first; labels are UTF-8.
std::vector<MenuItem> buildTrayMenu(const TrayMenuState& state);

}  // namespace tonalis
