#include "app/tray_menu.h"

#include <algorithm>
#include <string>
#include <utility>

#include "app/command_ids.h"
#include "app/settings_file.h"

namespace tonalis {

namespace {

MenuItem command(uint32_t id, std::string label, bool checked = false, bool enabled = true) {
  MenuItem item;
  item.kind = MenuItem::Kind::Command;
  item.id = id;
  item.label = std::move(label);
  item.checked = checked;
  item.enabled = enabled;
  return item;
}

MenuItem separator() {
  MenuItem item;
  item.kind = MenuItem::Kind::Separator;
  return item;
}

MenuItem subMenu(std::string label, std::vector<MenuItem> children) {
  MenuItem item;
  item.kind = MenuItem::Kind::SubMenu;
  item.label = std::move(label);
  item.children = std::move(children);
  return item;
}

// One item of a value group: checked when the current value maps to its command.
MenuItem choice(uint32_t id, const char* label, std::span<const uint32_t> group, int32_t first,
                int32_t value, bool enabled = true) {
  return command(id, label, commandForValue(group, first, value) == id, enabled);
}

constexpr char Disconnected[] = "（未连接）";
constexpr char DefaultInputLabel[] = "默认录音设备";
constexpr char PlayingLabel[] = "正在播放的声音";
constexpr char TipPrefix[] = "Tonalis — ";

// A device's name as the system gives it, or its id when the system has forgotten it.
std::string deviceLabel(const std::string& id, const std::vector<SoundDevice>& devices) {
  for (const SoundDevice& d : devices) {
    if (d.id == id && !d.name.empty()) return d.name;
  }
  return id;
}

bool activeDevice(const std::string& id, const std::vector<SoundDevice>& devices) {
  return std::any_of(devices.begin(), devices.end(),
                     [&](const SoundDevice& d) { return d.active && d.id == id; });
}

MenuItem radio(uint32_t id, std::string label, bool checked, bool enabled = true) {
  MenuItem item = command(id, std::move(label), checked, enabled);
  item.radio = true;
  return item;
}

std::vector<MenuItem> sourceItems(const SourceMenuState& s) {
  const bool playing = s.chosen.kind == SourceKind::Playing;
  const bool playingAbsent = playing && s.chosenAbsent;
  std::vector<MenuItem> items;
  items.push_back(radio(CmdSourceDefaultInput, DefaultInputLabel, s.chosen.kind == SourceKind::DefaultInput));
  items.push_back(radio(CmdSourcePlaying, std::string(PlayingLabel) + (playingAbsent ? Disconnected : ""),
                        playing, !playingAbsent));
  items.push_back(separator());
  const std::vector<std::string> ids = sourceMenuDeviceIds(s);
  for (size_t i = 0; i < ids.size(); ++i) {
    const bool chosen = s.chosen.kind == SourceKind::Device && s.chosen.deviceId == ids[i];
    // A device that is listed as active but could not be opened is missing all the same.
    const bool missing = !activeDevice(ids[i], s.devices) || (chosen && s.chosenAbsent);
    items.push_back(radio(CmdSourceFirstDevice + uint32_t(i),
                          deviceLabel(ids[i], s.devices) + (missing ? Disconnected : ""), chosen, !missing));
  }
  return items;
}

}  // namespace

std::vector<std::string> sourceMenuDeviceIds(const SourceMenuState& state) {
  const bool deviceChosen = state.chosen.kind == SourceKind::Device;
  const bool chosenListed = deviceChosen && activeDevice(state.chosen.deviceId, state.devices);
  const size_t room = deviceChosen && !chosenListed ? MaxSourceDevices - 1 : MaxSourceDevices;
  std::vector<std::string> ids;
  bool chosenPlaced = chosenListed;
  for (const SoundDevice& d : state.devices) {
    if (d.active && ids.size() < room) {
      ids.push_back(d.id);
    } else if (!chosenPlaced && deviceChosen && d.id == state.chosen.deviceId) {
      ids.push_back(d.id);  // the absent choice keeps the place the system gives it
      chosenPlaced = true;
    }
  }
  // A list full of active devices must still show the choice.
  if (chosenListed && std::find(ids.begin(), ids.end(), state.chosen.deviceId) == ids.end()) {
    ids.back() = state.chosen.deviceId;
  }
  if (!chosenPlaced && deviceChosen) ids.push_back(state.chosen.deviceId);
  return ids;
}

std::string sourceTip(const SourceStatus& status, const std::vector<SoundDevice>& devices) {
  const SoundSource& chosen = status.chosen;
  const std::string chosenLabel = chosen.kind == SourceKind::Playing     ? PlayingLabel
                                  : chosen.kind == SourceKind::Device    ? deviceLabel(chosen.deviceId, devices)
                                                                         : DefaultInputLabel;
  switch (status.state) {
    case SourceState::Starting:
      return "Tonalis";
    case SourceState::Lost:
      return std::string(TipPrefix) + "声音设备已断开";
    case SourceState::Absent:
      return std::string(TipPrefix) + chosenLabel + Disconnected;
    case SourceState::Listening:
      break;
  }
  if (chosen.kind == SourceKind::DefaultInput) return "Tonalis";
  if (chosen.kind == SourceKind::Device && !status.endpointName.empty()) {
    return std::string(TipPrefix) + status.endpointName;
  }
  return std::string(TipPrefix) + chosenLabel;
}

TrayMenuState trayMenuState(const DisplayState& display, bool boardConnected,
                            bool windowVisible) {
  TrayMenuState state;
  static_cast<Settings&>(state) = display;  // the live values, clickThrough included
  state.boardConnected = boardConnected;
  state.windowVisible = windowVisible;
  state.displayMode = display.displayMode;
  return state;
}

std::vector<MenuItem> buildTrayMenu(const TrayMenuState& s) {
  // Stacking, click-through and the fading transparencies only mean something for the
  // floating window; "精简化" stays available in every mode.
  const bool windowMode = s.displayMode == DisplayMode::Window;
  const DisplayMode shownMode =
      s.displayMode == DisplayMode::FullScreen || s.displayMode == DisplayMode::Desktop
          ? s.displayMode
          : DisplayMode::Window;

  const auto& pos = FullScreenPositionCommands;
  const auto& tr = TransparencyCommands;
  const auto& st = SpectrumStyleCommands;
  const auto& th = ColorThemeCommands;
  const int32_t p = s.fullScreenPosition;
  const int32_t t = s.transparencyMode;
  const int32_t y = s.spectrumStyle;
  const int32_t c = s.colorTheme;

  std::vector<MenuItem> menu;
  menu.push_back(command(CmdBoardConnect, s.boardConnected ? "断开小板" : "连接小板"));
  menu.push_back(command(CmdToggleVisibility, s.windowVisible ? "隐藏界面" : "显示界面"));
  menu.push_back(separator());
  menu.push_back(command(CmdWindowMode, "窗口显示", shownMode == DisplayMode::Window));
  menu.push_back(command(CmdDesktopMode, "桌面显示", shownMode == DisplayMode::Desktop));
  menu.push_back(command(CmdFullScreenMode, "全屏显示", shownMode == DisplayMode::FullScreen));
  menu.push_back(subMenu("全屏位置", {
      choice(CmdPositionUpper, "偏上", pos, FirstFullScreenPosition, p),
      choice(CmdPositionCenter, "居中", pos, FirstFullScreenPosition, p),
      choice(CmdPositionLower, "偏下", pos, FirstFullScreenPosition, p),
      choice(CmdPositionStretch, "拉伸", pos, FirstFullScreenPosition, p),
  }));
  menu.push_back(separator());
  menu.push_back(command(CmdTopMost, "界面置顶", s.topMost == 1, windowMode));
  menu.push_back(command(CmdClickThrough, "鼠标穿透", s.clickThrough == 1, windowMode));
  menu.push_back(separator());
  menu.push_back(subMenu("透明设置", {
      choice(CmdOpaque, "不透明", tr, FirstTransparencyMode, t, windowMode),
      choice(CmdAlpha20, "20 %", tr, FirstTransparencyMode, t, windowMode),
      choice(CmdAlpha40, "40 %", tr, FirstTransparencyMode, t, windowMode),
      choice(CmdAlpha60, "60 %", tr, FirstTransparencyMode, t, windowMode),
      choice(CmdAlpha80, "80 %", tr, FirstTransparencyMode, t, windowMode),
      separator(),
      choice(CmdNoBackground, "去背景", tr, FirstTransparencyMode, t, windowMode),
      choice(CmdMinimal, "精简化", tr, FirstTransparencyMode, t),
  }));
  menu.push_back(subMenu("频谱类型", {
      choice(CmdStyleBlock, "方块式", st, FirstSpectrumStyle, y),
      choice(CmdStyleTopBlock, "顶块式", st, FirstSpectrumStyle, y),
      choice(CmdStyleBar, "长条式", st, FirstSpectrumStyle, y),
      choice(CmdStyleFloating, "飘浮式", st, FirstSpectrumStyle, y),
      choice(CmdStyleDots, "细点式", st, FirstSpectrumStyle, y),
      choice(CmdStyleWaveform, "波形式", st, FirstSpectrumStyle, y),
  }));
  menu.push_back(subMenu("频谱颜色", {
      choice(CmdThemeWhite, "经典白", th, FirstColorTheme, c),
      choice(CmdThemeGreen, "清新绿", th, FirstColorTheme, c),
      choice(CmdThemeSky, "天空蓝", th, FirstColorTheme, c),
      choice(CmdThemePurple, "浪漫紫", th, FirstColorTheme, c),
      choice(CmdThemeAutumn, "秋意黄", th, FirstColorTheme, c),
  }));
  menu.push_back(subMenu("声音来源", sourceItems(s.source)));
  std::vector<MenuItem> delays;
  for (size_t i = 0; i < FrameDelays.size(); ++i) {
    delays.push_back(radio(FrameDelayCommands[i], std::to_string(FrameDelays[i]) + " 毫秒",
                           s.delayMillis == FrameDelays[i]));
  }
  menu.push_back(subMenu("画面延迟", std::move(delays)));
  menu.push_back(separator());
  menu.push_back(command(CmdStartWithSession, "开机启动", s.startsWithSession));
  menu.push_back(command(CmdAbout, "关于软件"));
  menu.push_back(separator());
  menu.push_back(command(CmdExit, "退出"));
  return menu;
}

}  // namespace tonalis
