#include "about/about_dlg.h"

#include <array>

namespace tonalis {

namespace {
constexpr std::string_view FullWidthColon = "：";  // U+FF1A
}  // namespace

std::string aboutLinkLabel(const AboutInfo& info) {
  return "  " + std::string(info.linkBase) + "\r\n" + std::string(info.linkRest);
}

std::string aboutLinkAddress(const AboutInfo& info) {
  return std::string(info.linkBase) + std::string(info.linkRest);
}

std::string aboutValueText(std::string_view value) { return std::string(FullWidthColon) + std::string(value); }

CAboutDlg::CAboutDlg(DialogHost& host, Shell& shell, AboutInfo info)
    : CDialog(TemplateId, host), shell_(shell), info_(info) {}

std::span<const MessageEntry> CAboutDlg::messageTable() const {
  static const MessageEntry table[] = {
      onMessage<&CAboutDlg::onControlColor>(WM_CTLCOLORSTATIC),
      onMessage<&CAboutDlg::onSetCursor>(WM_SETCURSOR),
      onMessage<&CAboutDlg::onLeftButtonDown>(WM_LBUTTONDOWN),
  };
  return table;
}

bool CAboutDlg::onInitDialog() {
  CDialog::onInitDialog();
  const std::array<std::pair<int, std::string_view>, 7> values{{
      {ProgramId, info_.program},
      {AuthorId, info_.author},
      {VersionId, info_.version},
      {CreatedId, info_.created},
      {ModifiedId, info_.modified},
      {EmailId, info_.email},
      {MessengerId, info_.messenger},
  }};
  for (const auto& [id, value] : values) host().setControlText(id, aboutValueText(value));
  host().setControlText(LinkId, aboutLinkLabel(info_));
  return true;
}

bool CAboutDlg::onControlColor(const Message& message, intptr_t& result) {
  const bool link = host().controlIdOf(message.lParam) == LinkId;
  result = host().controlColors(message, link ? std::optional<ColorRef>(LinkColor) : std::nullopt);
  return true;
}

// The label takes no mouse input itself: the dialog tests the cursor against its
// rectangle, so the empty part of the label counts too.
bool CAboutDlg::cursorOverLink() { return host().controlScreenRect(LinkId).contains(host().cursorPos()); }

bool CAboutDlg::onSetCursor(const Message&, intptr_t& result) {
  if (!cursorOverLink()) return false;
  host().setHandCursor();
  result = 1;
  return true;
}

bool CAboutDlg::onLeftButtonDown(const Message&, intptr_t&) {
  // Without a browser the address at least reaches the user, to copy by hand.
  if (cursorOverLink() && !shell_.openUrl(aboutLinkAddress(info_))) {
    shell_.showMessage(std::string(LinkOpenFailedMessage) + aboutLinkAddress(info_));
  }
  return false;  // then default processing
}

}  // namespace tonalis
