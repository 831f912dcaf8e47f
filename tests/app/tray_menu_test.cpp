#include "app/tray_menu.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/command_ids.h"

// GCC 12 at -O3 (the mingw test build) warns about std::string members of brace-initialised
// tables of cases that are plainly initialised (GCC bugs 105562, 105651).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace tonalis {
namespace {

// One line per item: "id label [x] (grey)", "---" for a separator, "> label" for a
// sub-menu with its items indented below.
void render(const std::vector<MenuItem>& items, const std::string& indent, std::string& out) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        out += indent + "---\n";
        break;
      case MenuItem::Kind::SubMenu:
        out += indent + "> " + item.label + (item.enabled ? "" : " (grey)") + "\n";
        render(item.children, indent + "  ", out);
        break;
      case MenuItem::Kind::Command:
        out += indent + std::to_string(item.id) + " " + item.label +
               (item.checked ? (item.radio ? " (o)" : " [x]") : "") + (item.enabled ? "" : " (grey)") + "\n";
        break;
    }
  }
}

std::string render(const std::vector<MenuItem>& items) {
  std::string out;
  render(items, "", out);
  return out;
}

void collect(const std::vector<MenuItem>& items, bool wantChecked, std::set<uint32_t>& out) {
  for (const MenuItem& item : items) {
    if (item.kind == MenuItem::Kind::SubMenu) collect(item.children, wantChecked, out);
    if (item.kind != MenuItem::Kind::Command) continue;
    if (wantChecked ? item.checked : !item.enabled) out.insert(item.id);
  }
}

std::set<uint32_t> checkedIds(const TrayMenuState& state) {
  std::set<uint32_t> ids;
  collect(buildTrayMenu(state), true, ids);
  return ids;
}

std::set<uint32_t> greyIds(const TrayMenuState& state) {
  std::set<uint32_t> ids;
  collect(buildTrayMenu(state), false, ids);
  return ids;
}

TEST(TrayMenu, ItemsOrderLabelsSeparatorsAndSubMenus) {
  const std::string expected =
      "32852 连接小板\n"
      "32780 隐藏界面\n"
      "---\n"
      "32835 窗口显示 [x]\n"
      "32834 桌面显示\n"
      "32826 全屏显示\n"
      "> 全屏位置\n"
      "  32846 偏上\n"
      "  32847 居中 [x]\n"
      "  32848 偏下\n"
      "  32849 拉伸\n"
      "---\n"
      "32785 界面置顶\n"
      "32809 鼠标穿透\n"
      "---\n"
      "> 透明设置\n"
      "  32798 不透明 [x]\n"
      "  32799 20 %\n"
      "  32800 40 %\n"
      "  32801 60 %\n"
      "  32802 80 %\n"
      "  ---\n"
      "  32811 去背景\n"
      "  32845 精简化\n"
      "> 频谱类型\n"
      "  32828 方块式 [x]\n"
      "  32830 顶块式\n"
      "  32807 长条式\n"
      "  32808 飘浮式\n"
      "  32837 细点式\n"
      "  32850 波形式\n"
      "> 频谱颜色\n"
      "  32819 经典白 [x]\n"
      "  32820 清新绿\n"
      "  32821 天空蓝\n"
      "  32822 浪漫紫\n"
      "  32823 秋意黄\n"
      "> 声音来源\n"
      "  32900 默认录音设备 (o)\n"
      "  32901 正在播放的声音\n"
      "  ---\n"
      "> 画面延迟\n"
      "  32930 0 毫秒 (o)\n"
      "  32931 50 毫秒\n"
      "  32932 100 毫秒\n"
      "  32933 150 毫秒\n"
      "  32934 200 毫秒\n"
      "  32935 300 毫秒\n"
      "---\n"
      "32853 开机启动\n"
      "32783 关于软件\n"
      "---\n"
      "32782 退出\n";
  EXPECT_EQ(render(buildTrayMenu(TrayMenuState{})), expected);
}

TEST(TrayMenu, SwitchingLabelsFollowBoardAndVisibility) {
  struct Row {
    bool connected, visible;
    const char* board;
    const char* visibility;
  };
  const Row rows[] = {
      {false, true, "连接小板", "隐藏界面"},
      {false, false, "连接小板", "显示界面"},
      {true, true, "断开小板", "隐藏界面"},
      {true, false, "断开小板", "显示界面"},
  };
  for (const Row& row : rows) {
    TrayMenuState state;
    state.boardConnected = row.connected;
    state.windowVisible = row.visible;
    const auto menu = buildTrayMenu(state);
    EXPECT_EQ(menu[0].id, CmdBoardConnect);
    EXPECT_EQ(menu[0].label, row.board);
    EXPECT_EQ(menu[1].id, CmdToggleVisibility);
    EXPECT_EQ(menu[1].label, row.visibility);
  }
}

// Each row changes one field of the default state; the checked ids of that field's
// group are listed, the other groups keep their default marks.
TEST(TrayMenu, OneCheckPerGroupAndNoneForOutOfRangeValues) {
  const std::set<uint32_t> defaults{CmdWindowMode, CmdPositionCenter, CmdOpaque, CmdStyleBlock,
                                    CmdThemeWhite, CmdSourceDefaultInput, 32930};
  struct Row {
    const char* what;
    void (*set)(TrayMenuState&, int32_t);
    int32_t value;
    std::set<uint32_t> groupIds;   // every id of the group
    std::set<uint32_t> checked;    // the checked ones among them
  };
  const std::set<uint32_t> styles{32828, 32830, 32807, 32808, 32837, 32850};
  const std::set<uint32_t> positions{32846, 32847, 32848, 32849};
  const std::set<uint32_t> transparencies{32798, 32799, 32800, 32801, 32802, 32811, 32845};
  const std::set<uint32_t> themes{32819, 32820, 32821, 32822, 32823};
  const std::set<uint32_t> modes{32835, 32834, 32826};
  const std::set<uint32_t> delays{32930, 32931, 32932, 32933, 32934, 32935};
  auto style = [](TrayMenuState& s, int32_t v) { s.spectrumStyle = v; };
  auto position = [](TrayMenuState& s, int32_t v) { s.fullScreenPosition = v; };
  auto transparency = [](TrayMenuState& s, int32_t v) { s.transparencyMode = v; };
  auto theme = [](TrayMenuState& s, int32_t v) { s.colorTheme = v; };
  auto mode = [](TrayMenuState& s, int32_t v) { s.displayMode = static_cast<DisplayMode>(v); };
  auto top = [](TrayMenuState& s, int32_t v) { s.topMost = v; };
  auto click = [](TrayMenuState& s, int32_t v) { s.clickThrough = v; };
  auto delay = [](TrayMenuState& s, int32_t v) { s.delayMillis = v; };
  auto startup = [](TrayMenuState& s, int32_t v) { s.startsWithSession = v != 0; };
  const Row rows[] = {
      {"style", style, 1, styles, {32828}},
      {"style", style, 2, styles, {32830}},
      {"style", style, 3, styles, {32807}},
      {"style", style, 4, styles, {32808}},
      {"style", style, 5, styles, {32837}},
      {"style", style, 6, styles, {32850}},
      {"style", style, 0, styles, {}},
      {"style", style, 7, styles, {}},
      {"position", position, 0, positions, {32847}},
      {"position", position, 1, positions, {32846}},
      {"position", position, 2, positions, {32848}},
      {"position", position, 3, positions, {32849}},
      {"position", position, 4, positions, {}},
      {"position", position, -1, positions, {}},
      {"transparency", transparency, 0, transparencies, {32798}},
      {"transparency", transparency, 1, transparencies, {32799}},
      {"transparency", transparency, 2, transparencies, {32800}},
      {"transparency", transparency, 3, transparencies, {32801}},
      {"transparency", transparency, 4, transparencies, {32802}},
      {"transparency", transparency, 5, transparencies, {32811}},
      {"transparency", transparency, 6, transparencies, {32845}},
      {"transparency", transparency, 7, transparencies, {}},
      {"transparency", transparency, -1, transparencies, {}},
      {"theme", theme, 1, themes, {32819}},
      {"theme", theme, 2, themes, {32820}},
      {"theme", theme, 3, themes, {32821}},
      {"theme", theme, 4, themes, {32822}},
      {"theme", theme, 5, themes, {32823}},
      {"theme", theme, 0, themes, {}},
      {"theme", theme, 6, themes, {}},
      {"display mode", mode, 0, modes, {32835}},
      {"display mode", mode, 1, modes, {32826}},
      {"display mode", mode, 2, modes, {32834}},
      {"display mode", mode, 3, modes, {32835}},
      {"display mode", mode, -1, modes, {32835}},
      {"top", top, 0, {32785}, {}},
      {"top", top, 1, {32785}, {32785}},
      {"top", top, 2, {32785}, {}},
      {"click-through", click, 0, {32809}, {}},
      {"click-through", click, 1, {32809}, {32809}},
      {"click-through", click, 2, {32809}, {}},
      {"delay", delay, 100, delays, {32932}},
      {"delay", delay, 300, delays, {32935}},
      {"delay", delay, 120, delays, {}},
      {"start with the session", startup, 0, {32853}, {}},
      {"start with the session", startup, 1, {32853}, {32853}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.what << " = " << row.value);
    TrayMenuState state;
    row.set(state, row.value);
    std::set<uint32_t> expected;
    for (uint32_t id : defaults) {
      if (!row.groupIds.count(id)) expected.insert(id);
    }
    expected.insert(row.checked.begin(), row.checked.end());
    EXPECT_EQ(checkedIds(state), expected);
  }
}

TEST(TrayMenu, EightItemsGreyOutsideWindowMode) {
  const std::set<uint32_t> greyed{CmdTopMost, CmdClickThrough, CmdOpaque, CmdAlpha20,
                                  CmdAlpha40, CmdAlpha60,      CmdAlpha80, CmdNoBackground};
  const std::pair<int32_t, std::set<uint32_t>> rows[] = {
      {0, {}}, {1, greyed}, {2, greyed}, {3, greyed},
  };
  for (const auto& [mode, expected] : rows) {
    TrayMenuState state;
    state.displayMode = static_cast<DisplayMode>(mode);
    state.topMost = 1;
    state.clickThrough = 1;
    EXPECT_EQ(greyIds(state), expected) << "display mode " << mode;
  }
}

TEST(TrayMenu, StateIsTakenFromTheDisplayRecord) {
  DisplayState display;
  display.displayMode = DisplayMode::Desktop;
  display.spectrumStyle = Dots;
  display.fullScreenPosition = Stretch;
  display.topMost = 1;
  display.clickThrough = 1;
  display.transparencyMode = Alpha60;
  display.colorTheme = Autumn;
  const TrayMenuState state = trayMenuState(display, true, false);
  EXPECT_TRUE(state.boardConnected);
  EXPECT_FALSE(state.windowVisible);
  EXPECT_EQ(checkedIds(state),
            (std::set<uint32_t>{CmdDesktopMode, CmdStyleDots, CmdPositionStretch, CmdTopMost,
                                CmdClickThrough, CmdAlpha60, CmdThemeAutumn, CmdSourceDefaultInput,
                                FrameDelayCommands[0]}));
}

// The "声音来源" sub-menu, rendered, for the choice and the devices the system lists.
TEST(SourceMenu, ChoiceDevicesAndTheAbsentChoice) {
  const SoundDevice mic{"m", "麦克风 (USB)", true};
  const SoundDevice monitor{"o", "Monitor of Null Output", true};
  const SoundDevice unplugged{"u", "Headset", false};
  const SoundSource def{};
  const SoundSource playing{SourceKind::Playing, ""};
  const auto dev = [](const char* id) { return SoundSource{SourceKind::Device, id}; };
  const struct {
    const char* what;
    SourceMenuState state;
    std::string items;  // below the separator after the two fixed items
    std::string fixed = "32900 默认录音设备 (o)\n32901 正在播放的声音\n";
  } rows[] = {
      {"no devices", {def, false, {}}, ""},
      {"devices in the system's order; unplugged ones left out", {def, false, {mic, unplugged, monitor}},
       "32910 麦克风 (USB)\n32911 Monitor of Null Output\n"},
      {"what is playing chosen", {playing, false, {mic}}, "32910 麦克风 (USB)\n",
       "32900 默认录音设备\n32901 正在播放的声音 (o)\n"},
      {"what is playing cannot be had", {playing, true, {mic}}, "32910 麦克风 (USB)\n",
       "32900 默认录音设备\n32901 正在播放的声音（未连接） (o) (grey)\n"},
      {"a device chosen", {dev("o"), false, {mic, monitor}}, "32910 麦克风 (USB)\n32911 Monitor of Null Output (o)\n",
       "32900 默认录音设备\n32901 正在播放的声音\n"},
      {"the chosen device unplugged keeps its place", {dev("u"), true, {mic, unplugged, monitor}},
       "32910 麦克风 (USB)\n32911 Headset（未连接） (o) (grey)\n32912 Monitor of Null Output\n",
       "32900 默认录音设备\n32901 正在播放的声音\n"},
      {"the chosen device unknown to the system shows its id", {dev("{0.0.1}.{x}"), true, {mic}},
       "32910 麦克风 (USB)\n32911 {0.0.1}.{x}（未连接） (o) (grey)\n", "32900 默认录音设备\n32901 正在播放的声音\n"},
      {"listed but failing to open", {dev("m"), true, {mic}}, "32910 麦克风 (USB)（未连接） (o) (grey)\n",
       "32900 默认录音设备\n32901 正在播放的声音\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TrayMenuState state;
    state.source = row.state;
    const auto menu = buildTrayMenu(state);
    // Directly after "频谱颜色".
    ASSERT_EQ(menu[13].label, "频谱颜色");
    ASSERT_EQ(menu[14].label, "声音来源");
    EXPECT_EQ(render(menu[14].children), row.fixed + "---\n" + row.items);
    for (const MenuItem& item : menu[14].children) {
      if (item.kind == MenuItem::Kind::Command) {
        EXPECT_TRUE(item.radio) << item.label;
      }
    }
  }
}

TEST(SourceMenu, AtMostSixteenDevicesAndTheChoiceAlwaysAmongThem) {
  std::vector<SoundDevice> many;
  for (int i = 0; i < 20; ++i) many.push_back({"d" + std::to_string(i), "Mic " + std::to_string(i), true});
  const auto ids = [&](SoundSource chosen) { return sourceMenuDeviceIds({chosen, false, many}); };
  const std::vector<std::string> first16 = [&] {
    std::vector<std::string> v;
    for (int i = 0; i < 16; ++i) v.push_back("d" + std::to_string(i));
    return v;
  }();
  EXPECT_EQ(ids({}), first16);
  EXPECT_EQ(ids({SourceKind::Device, "d3"}), first16);
  std::vector<std::string> withLate = first16;
  withLate.back() = "d18";
  EXPECT_EQ(ids({SourceKind::Device, "d18"}), withLate);
  std::vector<std::string> withAbsent(first16.begin(), first16.end() - 1);
  withAbsent.push_back("gone");
  EXPECT_EQ(ids({SourceKind::Device, "gone"}), withAbsent);
  TrayMenuState state;
  state.source = {{SourceKind::Device, "gone"}, true, many};
  const auto menu = buildTrayMenu(state);
  EXPECT_EQ(menu[14].children.size(), 3u + 16u);
  EXPECT_EQ(menu[14].children.back().id, CmdSourceFirstDevice + 15);
}

TEST(SourceTip, TellsWhereCaptureStands) {
  const std::vector<SoundDevice> devices{{"u", "USB Headset", false}};
  const SoundSource def{};
  const SoundSource playing{SourceKind::Playing, ""};
  const SoundSource usb{SourceKind::Device, "u"};
  const struct {
    SourceStatus status;
    const char* tip;
  } rows[] = {
      {{SourceState::Starting, def, ""}, "Tonalis"},
      {{SourceState::Listening, def, "Microphone"}, "Tonalis"},
      {{SourceState::Listening, playing, "Speakers"}, "Tonalis — 正在播放的声音"},
      {{SourceState::Listening, usb, "USB Headset"}, "Tonalis — USB Headset"},
      {{SourceState::Absent, usb, "Microphone"}, "Tonalis — USB Headset（未连接）"},
      {{SourceState::Absent, {SourceKind::Device, "x"}, "Microphone"}, "Tonalis — x（未连接）"},
      {{SourceState::Absent, playing, "Microphone"}, "Tonalis — 正在播放的声音（未连接）"},
      {{SourceState::Lost, def, ""}, "Tonalis — 声音设备已断开"},
      {{SourceState::Lost, playing, ""}, "Tonalis — 声音设备已断开"},
  };
  for (const auto& row : rows) EXPECT_EQ(sourceTip(row.status, devices), row.tip);
}

TEST(CommandIds, GroupTablesMapBothWays) {
  EXPECT_EQ(commandForValue(FullScreenPositionCommands, FirstFullScreenPosition, Upper),
            CmdPositionUpper);
  EXPECT_EQ(commandForValue(SpectrumStyleCommands, FirstSpectrumStyle, 7), 0u);
  EXPECT_EQ(commandForValue(TransparencyCommands, FirstTransparencyMode, INT32_MIN), 0u);
  EXPECT_EQ(valueForCommand(TransparencyCommands, FirstTransparencyMode, CmdMinimal), Minimal);
  EXPECT_EQ(valueForCommand(ColorThemeCommands, FirstColorTheme, CmdThemeSky), Sky);
  EXPECT_EQ(valueForCommand(ColorThemeCommands, FirstColorTheme, CmdExit), -1);
}

}  // namespace
}  // namespace tonalis
