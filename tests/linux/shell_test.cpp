#include "backend/linux/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "backend/linux/bitmap_source.h"

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;

// A stand-in for xdg-open: writes each argument it gets on a line of `seen`, then waits
// and exits as told.
class LinuxShellOpener : public ::testing::Test {
 protected:
  fs::path dir_ = fs::temp_directory_path() / ("tonalis-shell-" + std::to_string(::getpid()));
  fs::path seen_ = dir_ / "seen";

  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string opener(const std::string& name, const std::string& tail) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << seen_.string() << "'; done\n"
                        << tail << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }
  std::vector<std::string> seenArguments() const {
    std::vector<std::string> lines;
    std::ifstream in(seen_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(LinuxShellOpener, PassesTheAddressAsOneArgumentAndReportsTheOpenersVerdict) {
  struct Case {
    const char* tail;
    bool expected;
  };
  // xdg-open exits 0 when it opened, 3 when no handler was found, 4 when the action failed.
  const Case cases[] = {{"exit 0", true}, {"exit 3", false}, {"exit 4", false}, {"kill -9 $$", false}};
  // Words a shell would act on reach the opener untouched.
  const std::string url = "https://example.org/a b?q='x'&r=$(touch " + (dir_ / "hit").string() + ");echo";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    fs::remove(seen_);
    LinuxShell shell({}, opener("open", c.tail));
    EXPECT_EQ(shell.openUrl(url), c.expected);
    EXPECT_EQ(seenArguments(), std::vector<std::string>{url});
  }
  EXPECT_FALSE(fs::exists(dir_ / "hit"));
}

TEST_F(LinuxShellOpener, RefusesAddressesTheOpenerWouldMisreadWithoutStartingIt) {
  LinuxShell shell({}, opener("open", "exit 0"));
  for (const std::string& url : {std::string(), std::string("--help"), std::string("-e x"),
                                std::string("https://a.example/\nsecond"), std::string("x\x7f"),
                                std::string("a\0b", 3)}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(shell.openUrl(url));
  }
  EXPECT_FALSE(fs::exists(seen_));
}

TEST_F(LinuxShellOpener, MissingOpenerFails) {
  EXPECT_FALSE(LinuxShell({}, (dir_ / "absent").string()).openUrl("https://example.org/"));
  EXPECT_FALSE(LinuxShell({}, "tonalis-no-such-opener").openUrl("https://example.org/"));  // looked up on PATH
}

TEST_F(LinuxShellOpener, AnOpenerThatKeepsRunningCountsAsOpened) {
  // Some desktops' xdg-open stays until the browser it started ends.
  LinuxShell shell({}, opener("open", "sleep 3"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(shell.openUrl("https://example.org/"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500))
      << "openUrl waited for the opener to end";
}

TEST(LinuxShell, MessagesGoToTheInstalledSinkElseToStandardError) {
  LinuxShell shell;
  ::testing::internal::CaptureStderr();
  shell.showMessage("找不到设备");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("找不到设备"), std::string::npos);

  std::vector<std::string> shown;
  shell.setMessageSink([&](std::string_view text) { shown.emplace_back(text); });
  ::testing::internal::CaptureStderr();
  shell.showMessage("second");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(shown, std::vector<std::string>{"second"});
}

TEST(LinuxBitmapSource, ServesTheProgramsBitmaps) {
  LinuxBitmapSource source;
  AssetStore store;
  EXPECT_EQ(store.loadAll(source), 0);
}

}  // namespace
}  // namespace tonalis::lnx

namespace tonalis::lnx {
namespace {

// Starting with the session is a desktop entry in the autostart folder beside the settings:
// its presence is what the menu shows, it names this very program, and a folder that cannot
// be written is reported.
TEST(LinuxShell, StartingWithTheSessionIsAnAutostartEntryForThisProgram) {
  const std::filesystem::path config =
      std::filesystem::temp_directory_path() / ("tonalis-autostart-" + std::to_string(getpid()));
  std::filesystem::remove_all(config);
  const std::string oldConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const std::filesystem::path entry = config / "autostart" / "tonalis.desktop";

  LinuxShell shell;
  EXPECT_FALSE(shell.startsWithSession());
  ASSERT_TRUE(shell.setStartWithSession(true));
  EXPECT_TRUE(shell.startsWithSession());
  std::ifstream in(entry);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"" + self + "\"\n"), std::string::npos) << text;

  std::filesystem::remove(entry);  // taken out by the desktop's own settings
  EXPECT_FALSE(shell.startsWithSession());
  ASSERT_TRUE(shell.setStartWithSession(true));
  ASSERT_TRUE(shell.setStartWithSession(false));
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(shell.setStartWithSession(false)) << "nothing to remove is no failure";

  // The autostart folder is a file: nothing can be written there.
  std::filesystem::remove_all(config / "autostart");
  std::ofstream(config / "autostart") << "x";
  EXPECT_FALSE(shell.setStartWithSession(true));
  EXPECT_FALSE(shell.startsWithSession());

  if (oldConfig.empty()) {
    unsetenv("XDG_CONFIG_HOME");
  } else {
    setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
  }
  std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace tonalis::lnx
