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

std::span<const EventEntry> CAboutDlg::eventTable() const {
  static const EventEntry table[] = {
      onEvent<ControlColorRequest, &CAboutDlg::onControlColor>(),
      onEvent<CursorRequest, &CAboutDlg::onSetCursor>(),
      onEvent<PointerPress, &CAboutDlg::onPointerPress>(),
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

bool CAboutDlg::onControlColor(ControlColorRequest& request) {
  if (request.controlId == LinkId) request.textColor = LinkColor;
  return true;  // the system's colours, with the link's text colour
}

// The label takes no mouse input itself: the dialog tests the cursor against its
// rectangle, so the empty part of the label counts too.
bool CAboutDlg::cursorOverLink() { return host().controlScreenRect(LinkId).contains(host().cursorPos()); }

bool CAboutDlg::onSetCursor(CursorRequest& request) {
  if (!cursorOverLink()) return false;
  request.shape = CursorShape::Hand;
  return true;
}

bool CAboutDlg::onPointerPress(const PointerPress& press) {
  // Without a browser the address at least reaches the user, to copy by hand.
  if (press.button == MouseButton::Left && cursorOverLink() && !shell_.openUrl(aboutLinkAddress(info_))) {
    shell_.showMessage(std::string(LinkOpenFailedMessage) + aboutLinkAddress(info_));
  }
  return false;  // then default processing
}

}  // namespace tonalis
