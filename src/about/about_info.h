// What the About box says, as plain data, and the few rules every backend's About box
// follows: the value texts, the link's label, colour and address, and what a click on the
// link does. Each backend shows the box in its own widgets (AppHost::showAbout).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/types.h"
#include "platform/shell.h"

namespace tonalis {

// What the box says. Values are shown after a full-width colon, each on one line of its
// control: keep a value within about its control's width in dialog units divided by four,
// counted in average letters (the colon takes two). The link's two lines share 96 units.
struct AboutInfo {
  std::string_view program = "Tonalis";
  std::string_view author = "Tonalis team";
  std::string_view version = "1.0";
  std::string_view created = "2026.12.10.";   // year.month.day.
  std::string_view modified = "2026.12.10.";
  std::string_view email = "dev@example.org";
  std::string_view messenger = "10000";
  // The web page, shown on two lines: the base indented, then the rest. The art tool puts
  // the same address in the About picture's QR code.
  std::string_view linkBase = "https://example.org";
  std::string_view linkRest = "/tonalis/";
};

// One row of the box: its caption and its value, top to bottom.
struct AboutRow {
  std::string_view caption;
  std::string_view value;
};
inline constexpr size_t AboutRowCount = 7;
// Program, author, version, created, modified, e-mail, messenger number.
std::array<AboutRow, AboutRowCount> aboutRows(const AboutInfo& info);

// The bitmap shown between the rows and the link (with the link's QR code).
inline constexpr int AboutPictureId = 188;
// The link's text colour.
inline constexpr Rgb AboutLinkColor = 0x0000FF;  // blue

// The label text: two spaces, the base, CR LF, the rest.
std::string aboutLinkLabel(const AboutInfo& info);
// The address the link opens: base and rest joined.
std::string aboutLinkAddress(const AboutInfo& info);

// Shown, followed by the address, when the shell cannot open the page.
inline constexpr std::string_view LinkOpenFailedMessage = "无法打开网页：";
// The text of a value row: the full-width colon, then the value.
std::string aboutValueText(std::string_view value);

// A click on the link: the page opens in the browser, or, without one, a message gives the
// address to copy by hand.
void openAboutLink(const AboutInfo& info, Shell& shell);

}  // namespace tonalis
