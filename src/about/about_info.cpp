#include "about/about_info.h"

namespace tonalis {

namespace {
constexpr std::string_view FullWidthColon = "：";  // U+FF1A
}  // namespace

std::array<AboutRow, AboutRowCount> aboutRows(const AboutInfo& info) {
  return {{
      {"Name", info.program},
      {"Author", info.author},
      {"Version", info.version},
      {"Create", info.created},
      {"Modify", info.modified},
      {"Email", info.email},
      {"QQ", info.messenger},
  }};
}

std::string aboutLinkLabel(const AboutInfo& info) {
  return "  " + std::string(info.linkBase) + "\r\n" + std::string(info.linkRest);
}

std::string aboutLinkAddress(const AboutInfo& info) {
  return std::string(info.linkBase) + std::string(info.linkRest);
}

std::string aboutValueText(std::string_view value) { return std::string(FullWidthColon) + std::string(value); }

void openAboutLink(const AboutInfo& info, Shell& shell) {
  const std::string address = aboutLinkAddress(info);
  if (!shell.openUrl(address)) shell.showMessage(std::string(LinkOpenFailedMessage) + address);
}

}  // namespace tonalis
