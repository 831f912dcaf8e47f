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
  intptr_t result = 0;
  EXPECT_TRUE(about.dispatch({WM_CTLCOLORSTATIC, 0, CAboutDlg::LinkId}, result));
  EXPECT_EQ(host.lastTextColor, std::optional<ColorRef>(0xFF0000));
  EXPECT_EQ(result, 0x5151);
  EXPECT_TRUE(about.dispatch({WM_CTLCOLORSTATIC, 0, CAboutDlg::ProgramId}, result));
  EXPECT_EQ(host.lastTextColor, std::nullopt);
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
    host.cursor = c.cursor;
    shell.opened.clear();
    host.handCursorSets = 0;
    intptr_t result = 0;
    EXPECT_EQ(about.dispatch({WM_SETCURSOR, 0, 0}, result), c.inside);
    EXPECT_EQ(host.handCursorSets, c.inside ? 1 : 0);
    // A click always goes on to default processing; inside, it opens the page first.
    EXPECT_FALSE(about.dispatch({WM_LBUTTONDOWN, 0, 0}, result));
    EXPECT_EQ(shell.opened, c.inside ? std::vector<std::string>{"https://example.org/tonalis/"}
                                     : std::vector<std::string>{});
  }
}

TEST_F(AboutFixture, APageThatCannotBeOpenedShowsItsAddress) {
  host.cursor = {100, 300};
  shell.openFails = true;
  intptr_t result = 0;
  about.dispatch({WM_LBUTTONDOWN, 0, 0}, result);
  EXPECT_EQ(shell.messages, std::vector<std::string>{"无法打开网页：https://example.org/tonalis/"});
}

TEST_F(AboutFixture, OkAndEscapeCloseIt) {
  host.queue = {{WM_KEYDOWN, VK_ESCAPE, 0}};
  EXPECT_EQ(about.doModal(), IDCANCEL);
  host.queue = {{WM_COMMAND, IDOK, 0}};
  EXPECT_EQ(about.doModal(), IDOK);
  EXPECT_EQ(host.controlTexts.at(1006), "：Tonalis");  // the same texts the second time
}

}  // namespace
}  // namespace tonalis
