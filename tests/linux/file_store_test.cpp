#include "platform/linux/file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;

struct FolderCase {
  const char* xdgConfigHome;
  const char* home;
  std::optional<std::string> expected;
};

TEST(LinuxFileStore, SettingsFolderFollowsTheBaseDirectoryRules) {
  const FolderCase cases[] = {
      {"/x/conf", "/home/u", "/x/conf/tonalis"},
      {nullptr, "/home/u", "/home/u/.config/tonalis"},
      {"", "/home/u/", "/home/u/.config/tonalis"},
      {"relative/conf", "/home/u", "/home/u/.config/tonalis"},  // a relative path is not valid
      {nullptr, "/", "/.config/tonalis"},
      {nullptr, nullptr, std::nullopt},
      {"conf", "home", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(configFolder(c.xdgConfigHome, c.home), c.expected)
        << (c.xdgConfigHome ? c.xdgConfigHome : "(unset)") << " / " << (c.home ? c.home : "(unset)");
  }
}

class LinuxFileStoreFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tonalis-store-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }
  fs::path root_;
};

TEST_F(LinuxFileStoreFiles, FirstWriteMakesTheFolderAndReadsBackCapped) {
  LinuxFileStore store((root_ / "conf" / "tonalis").string());
  EXPECT_EQ(store.read("tonalis.ini", 100), std::nullopt);
  EXPECT_FALSE(fs::exists(root_ / "conf")) << "reading must leave nothing behind";
  ASSERT_TRUE(store.replace("tonalis.ini", "abcdef"));
  EXPECT_EQ(store.read("tonalis.ini", 100), "abcdef");
  EXPECT_EQ(store.read("tonalis.ini", 4), "abcd");
  ASSERT_TRUE(store.replace("tonalis.ini", "xy"));
  EXPECT_EQ(store.read("tonalis.ini", 100), "xy");
  EXPECT_FALSE(fs::exists(root_ / "conf" / "tonalis" / "tonalis.ini.tmp"));
}

TEST_F(LinuxFileStoreFiles, AFolderThatCannotBeWrittenKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  LinuxFileStore store(root_.string());
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_EQ(store.read("tonalis.ini", 100), "old");
}

TEST_F(LinuxFileStoreFiles, ATemporaryThatCannotBeMadeKeepsTheOldFile) {
  LinuxFileStore store(root_.string());
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  fs::create_directories(root_ / "tonalis.ini.tmp" / "inside");  // refused even to root
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_EQ(store.read("tonalis.ini", 100), "old");
  EXPECT_TRUE(fs::is_directory(root_ / "tonalis.ini.tmp" / "inside"));
}

TEST_F(LinuxFileStoreFiles, AFailedRenameReportsFailureAndLeavesNoTemporaryFile) {
  fs::create_directories(root_ / "tonalis.ini" / "inside");  // a folder in the way (even root fails)
  LinuxFileStore store(root_.string());
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_TRUE(fs::is_directory(root_ / "tonalis.ini" / "inside"));
  EXPECT_FALSE(fs::exists(root_ / "tonalis.ini.tmp"));
}

TEST_F(LinuxFileStoreFiles, AFolderPathThroughAFileFailsCleanly) {
  std::ofstream(root_ / "file") << "x";
  LinuxFileStore store((root_ / "file" / "tonalis").string());
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_EQ(store.read("tonalis.ini", 100), std::nullopt);
}

}  // namespace
}  // namespace tonalis::lnx
