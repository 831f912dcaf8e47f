// The About box: its texts, the link's colour, cursor and click, and closing it.
#include <gtest/gtest.h>

#include "about/about_dlg.h"
#include "fakes/fake_app_ports.h"

namespace tonalis {
namespace {

struct AboutFixture : ::testing::Test {
  fakes::CallLog log;
  fakes::FakeDialogHost host{log};
  fakes::FakeShell shell{log};
  CAboutDlg about{host, shell};
  AboutFixture() { host.controlRects[CAboutDlg::LinkId] = {100, 300, 268, 330}; }
};

TEST_F(AboutFixture, InitialisationWritesTheValuesAfterAFullWidthColon) {
  about.onInitDialog();
  const std::map<int, std::string> expected{
      {1006, "：Tonalis"},
      {1002, "：Tonalis team"},
      {1003, "：1.0"},
      {1007, "：2026.12.10."},
      {1008, "：2026.12.10."},
      {1004, "：dev@example.org"},
      {1005, "：10000"},
      {1010, "  https://example.org\r\n/tonalis/"},
  };
  EXPECT_EQ(host.controlTexts, expected);
  EXPECT_EQ(std::string("：").size(), 3u);  // U+FF1A, GBK A3 BA once encoded for the system
}

TEST_F(AboutFixture, OnlyTheLinkIsBlue) {
  // Every static control keeps the system's colours (handled); the link's text is blue.
  Event link = ControlColorRequest{CAboutDlg::LinkId, std::nullopt};
  EXPECT_TRUE(about.dispatch(link));
  EXPECT_EQ(std::get<ControlColorRequest>(link).textColor, std::optional<Rgb>(0x0000FF));
  Event other = ControlColorRequest{CAboutDlg::ProgramId, std::nullopt};
  EXPECT_TRUE(about.dispatch(other));
  EXPECT_EQ(std::get<ControlColorRequest>(other).textColor, std::nullopt);
}

TEST_F(AboutFixture, HandCursorAndClickExactlyOverTheLinkRectangle) {
  struct Case {
    Point cursor;
    bool inside;
  };
  const Case cases[] = {
      {{100, 300}, true},   // top-left corner
      {{267, 329}, true},   // bottom-right pixel
      {{250, 305}, true},   // the label's empty right part
      {{268, 310}, false},  // right edge is exclusive
      {{150, 330}, false},  // bottom edge is exclusive
      {{99, 310}, false},
      {{20, 20}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cursor.x << "," << c.cursor.y);
    host.cursorAt = c.cursor;
    shell.opened.clear();
    Event cursor = CursorRequest{};
    EXPECT_EQ(about.dispatch(cursor), c.inside);
    EXPECT_EQ(std::get<CursorRequest>(cursor).shape, c.inside ? CursorShape::Hand : CursorShape::Default);
    // A click always goes on to default processing; inside, a left click opens the page
    // first (the other buttons do nothing).
    EXPECT_FALSE(about.dispatch(PointerPress{{5, 5}, MouseButton::Right}));
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_FALSE(about.dispatch(PointerPress{{5, 5}, MouseButton::Left}));
    EXPECT_EQ(shell.opened, c.inside ? std::vector<std::string>{"https://example.org/tonalis/"}
                                     : std::vector<std::string>{});
  }
}

TEST_F(AboutFixture, APageThatCannotBeOpenedShowsItsAddress) {
  host.cursorAt = {100, 300};
  shell.openFails = true;
  about.dispatch(PointerPress{{5, 5}, MouseButton::Left});
  EXPECT_EQ(shell.messages, std::vector<std::string>{"无法打开网页：https://example.org/tonalis/"});
}

TEST_F(AboutFixture, OkAndEscapeCloseIt) {
  host.queue = {KeyPress{Key::Escape}};
  EXPECT_EQ(about.doModal(), IdCancel);
  host.queue = {Command{IdOk}};
  EXPECT_EQ(about.doModal(), IdOk);
  EXPECT_EQ(host.controlTexts.at(1006), "：Tonalis");  // the same texts the second time
}

}  // namespace
}  // namespace tonalis
