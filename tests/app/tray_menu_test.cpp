#include "app/tray_menu.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/command_ids.h"

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
        out += indent + std::to_string(item.id) + " " + item.label + (item.checked ? " [x]" : "") +
               (item.enabled ? "" : " (grey)") + "\n";
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
      "---\n"
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
                                    CmdThemeWhite};
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
  auto style = [](TrayMenuState& s, int32_t v) { s.spectrumStyle = v; };
  auto position = [](TrayMenuState& s, int32_t v) { s.fullScreenPosition = v; };
  auto transparency = [](TrayMenuState& s, int32_t v) { s.transparencyMode = v; };
  auto theme = [](TrayMenuState& s, int32_t v) { s.colorTheme = v; };
  auto mode = [](TrayMenuState& s, int32_t v) { s.displayMode = static_cast<DisplayMode>(v); };
  auto top = [](TrayMenuState& s, int32_t v) { s.topMost = v; };
  auto click = [](TrayMenuState& s, int32_t v) { s.clickThrough = v; };
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
                                CmdClickThrough, CmdAlpha60, CmdThemeAutumn}));
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
