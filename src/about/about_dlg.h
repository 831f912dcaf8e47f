// CAboutDlg: the modal information box with the program's details, a picture and a
// clickable web-page link.
#pragma once

#include <string>
#include <string_view>

#include "common/types.h"
#include "framework/dialog.h"
#include "platform/shell.h"

namespace tonalis {

// What the dialog says. Values are shown after a full-width colon, each on one line of its
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

// The label text: two spaces, the base, CR LF, the rest.
std::string aboutLinkLabel(const AboutInfo& info);
// The address the link opens: base and rest joined.
std::string aboutLinkAddress(const AboutInfo& info);

// Shown, followed by the address, when the shell cannot open the page.
inline constexpr std::string_view LinkOpenFailedMessage = "无法打开网页：";
// The text of a value control: the full-width colon, then the value.
std::string aboutValueText(std::string_view value);

class CAboutDlg : public CDialog {
 public:
  static constexpr int TemplateId = 100;
  static constexpr int ProgramId = 1006, AuthorId = 1002, VersionId = 1003, CreatedId = 1007,
                       ModifiedId = 1008, EmailId = 1004, MessengerId = 1005, PictureId = 1011,
                       LinkId = 1010;
  static constexpr Rgb LinkColor = 0x0000FF;  // blue

  CAboutDlg(DialogHost& host, Shell& shell, AboutInfo info = {});

  bool onInitDialog() override;
  // The link is drawn blue; the cursor over it is a hand; a left click on it opens the page.
  bool onControlColor(ControlColorRequest& request);
  bool onSetCursor(CursorRequest& request);
  bool onPointerPress(const PointerPress& press);

 protected:
  std::span<const EventEntry> eventTable() const override;

 private:
  bool cursorOverLink();

  Shell& shell_;
  AboutInfo info_;
};

}  // namespace tonalis
