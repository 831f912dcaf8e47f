// The tray icon's pop-up menu as data. It is rebuilt at every opening from the state
// below: the two switching labels, one check mark per group, and the items that do not
// apply outside Window mode greyed.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/source_status.h"
#include "common/types.h"
#include "platform/tray_port.h"
#include "window/display_state.h"

namespace tonalis {

// The sound-source sub-menu: the choice, whether it is missing, and the capture devices
// as the system lists them now.
struct SourceMenuState {
  SoundSource chosen;
  bool chosenAbsent = false;         // greyed, with "（未连接）" after its name
  std::vector<SoundDevice> devices;  // active or not, in the system's order
};

// The endpoint ids of the device items in menu order (command CmdSourceFirstDevice + i is
// entry i): the active devices, at most MaxSourceDevices, and the chosen device when it is
// not among them (it keeps its place in the menu, greyed).
std::vector<std::string> sourceMenuDeviceIds(const SourceMenuState& state);

// The tray icon's tip for where capture stands ("Tonalis" while the default input records).
// `devices` names a chosen device that is not recording.
std::string sourceTip(const SourceStatus& status, const std::vector<SoundDevice>& devices);

// What the menu shows. The int fields take any value: one outside its group's range
// checks nothing in that group (a hand-edited settings file can hold such values).
// topMost and clickThrough are checked when exactly 1; savedX and savedY are not shown.
struct TrayMenuState : Settings {
  bool boardConnected = false;   // first item reads "断开小板" instead of "连接小板"
  bool windowVisible = true;     // second item reads "隐藏界面" instead of "显示界面"
  DisplayMode displayMode = DisplayMode::Window;  // out of range: checks "窗口显示"
  SourceMenuState source;
  int32_t delayMillis = 0;        // checks its "画面延迟" item; other values check none
  bool startsWithSession = false; // "开机启动" checked: what the system holds now
};

TrayMenuState trayMenuState(const DisplayState& display, bool boardConnected,
                            bool windowVisible);

// The whole menu, top level first; labels are UTF-8.
std::vector<MenuItem> buildTrayMenu(const TrayMenuState& state);

}  // namespace tonalis
