// The files the Linux package installs beside the program: checked with the tools a
// distribution would use, and against the program's own constants.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "board/board_link.h"

namespace tonalis {
namespace {

namespace fs = std::filesystem;

const fs::path Packaging = fs::path(TONALIS_SOURCE_DIR) / "packaging";

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool onPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The command's standard output and error together, and its exit status.
std::pair<std::string, int> run(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return {"cannot start " + command, -1};
  std::array<char, 512> buffer;
  while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
  return {output, ::pclose(pipe)};
}

TEST(LinuxPackaging, DesktopEntryIsValidAndStartsTheProgramWithItsIcon) {
  const fs::path entry = Packaging / "tonalis.desktop";
  const std::string text = readText(entry);
  EXPECT_NE(text.find("\nExec=tonalis\n"), std::string::npos);
  EXPECT_NE(text.find("\nIcon=tonalis\n"), std::string::npos);
  if (!onPath("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate is not installed";
  const auto [output, status] = run("desktop-file-validate '" + entry.string() + "'");
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
}

TEST(LinuxPackaging, IconHasAPngOfTheRightSizeForEveryThemeSize) {
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const std::string side = std::to_string(size);
    const std::string png = readText(Packaging / "icons/hicolor" / (side + "x" + side) / "apps/tonalis.png");
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    auto be32 = [&](size_t at) {
      return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
             (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), uint32_t(size));
    EXPECT_EQ(be32(20), uint32_t(size));
    EXPECT_EQ(png[25], 6) << "not RGBA: the rounded corners need alpha";
  }
}

TEST(LinuxPackaging, UdevRuleGivesTheSeatAccessToTheBoardsHidrawNode) {
  // uaccess is acted on by 73-seat-late.rules, so the rule must sort before it.
  const fs::path rule = Packaging / "70-tonalis-board.rules";
  ASSERT_LT(rule.filename().string(), "73-seat-late.rules");
  char ids[64];
  std::snprintf(ids, sizeof ids, R"(ATTRS\{idVendor\}=="%04x", ATTRS\{idProduct\}=="%04x")", BoardVendorId, BoardProductId);
  const std::regex wanted(std::string(R"((^|\n)SUBSYSTEM=="hidraw", )") + ids + R"(, TAG\+="uaccess"\n)");
  EXPECT_TRUE(std::regex_search(readText(rule), wanted)) << readText(rule);
}

TEST(LinuxPackaging, ManualPageFormatsWithoutWarnings) {
  if (!onPath("groff")) GTEST_SKIP() << "groff is not installed";
  const auto [output, status] = run("groff -man -Tutf8 -ww -z '" + (Packaging / "tonalis.1").string() + "'");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace tonalis
