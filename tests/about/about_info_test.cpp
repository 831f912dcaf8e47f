// What every About box shows and does: the rows after a full-width colon, the link's label
// and address, and a click on the link with and without a browser.
#include <gtest/gtest.h>

#include "about/about_info.h"
#include "fakes/fake_app_ports.h"

namespace tonalis {
namespace {

TEST(AboutInfo, RowsShowEachValueAfterAFullWidthColon) {
  const AboutInfo info;
  std::vector<std::pair<std::string, std::string>> shown;
  for (const AboutRow& row : aboutRows(info)) shown.emplace_back(row.caption, aboutValueText(row.value));
  const std::vector<std::pair<std::string, std::string>> expected{
      {"Name", "：Tonalis"},
      {"Author", "：Tonalis team"},
      {"Version", "：1.0"},
      {"Create", "：2026.12.10."},
      {"Modify", "：2026.12.10."},
      {"Email", "：dev@example.org"},
      {"QQ", "：10000"},
  };
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(std::string("：").size(), 3u);  // U+FF1A, GBK A3 BA once encoded for the system
}

TEST(AboutInfo, TheLinkIsTwoLinesTheFirstIndentedAndOpensBothJoined) {
  const AboutInfo info;
  EXPECT_EQ(aboutLinkLabel(info), "  https://example.org\r\n/tonalis/");
  EXPECT_EQ(aboutLinkAddress(info), "https://example.org/tonalis/");
  AboutInfo other;
  other.linkBase = "https://a.example";
  other.linkRest = "/b";
  EXPECT_EQ(aboutLinkLabel(other), "  https://a.example\r\n/b");
  EXPECT_EQ(aboutLinkAddress(other), "https://a.example/b");
  EXPECT_EQ(AboutLinkColor, Rgb(0x0000FF));
}

TEST(AboutInfo, AClickOnTheLinkOpensThePageOrTellsItsAddress) {
  struct Case {
    bool openFails;
    std::vector<std::string> opened, messages;
  };
  const Case cases[] = {
      {false, {"https://example.org/tonalis/"}, {}},
      // Without a browser the address at least reaches the user, to copy by hand.
      {true, {}, {"无法打开网页：https://example.org/tonalis/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openFails);
    fakes::CallLog log;
    fakes::FakeShell shell(log);
    shell.openFails = c.openFails;
    openAboutLink(AboutInfo{}, shell);
    EXPECT_EQ(shell.opened, c.opened);
    EXPECT_EQ(shell.messages, c.messages);
  }
}

}  // namespace
}  // namespace tonalis
