#include "backend/linux/file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;

FileReadResult bytesRead(std::string bytes) { return {FileReadStatus::Read, std::move(bytes)}; }
const FileReadResult Missing{FileReadStatus::Missing, {}};
const FileReadResult Unreadable{FileReadStatus::Unreadable, {}};

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
  EXPECT_EQ(store.read("tonalis.ini", 100), Missing);
  EXPECT_FALSE(fs::exists(root_ / "conf")) << "reading must leave nothing behind";
  ASSERT_TRUE(store.replace("tonalis.ini", "abcdef"));
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("abcdef"));
  EXPECT_EQ(store.read("tonalis.ini", 4), bytesRead("abcd"));
  ASSERT_TRUE(store.replace("tonalis.ini", "xy"));
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("xy"));
  EXPECT_FALSE(fs::exists(root_ / "conf" / "tonalis" / "tonalis.ini.tmp"));
}

TEST_F(LinuxFileStoreFiles, AFolderThatCannotBeWrittenKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  LinuxFileStore store(root_.string());
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("old"));
}

TEST_F(LinuxFileStoreFiles, ATemporaryThatCannotBeMadeKeepsTheOldFile) {
  LinuxFileStore store(root_.string());
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  fs::create_directories(root_ / "tonalis.ini.tmp" / "inside");  // refused even to root
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("old"));
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
  EXPECT_EQ(store.read("tonalis.ini", 100), Missing) << "no file can be there";
}

// Only a file that is not there may be made anew; one that is there but cannot be read
// (these fail even for root) must be told apart, or its settings would be replaced.
TEST_F(LinuxFileStoreFiles, AFileThatIsThereButCannotBeReadIsNotMissing) {
  struct Case {
    const char* what;
    void (*make)(const fs::path& ini);
    FileReadResult expected;
  };
  const Case cases[] = {
      {"nothing there", [](const fs::path&) {}, Missing},
      {"a folder in its place", [](const fs::path& ini) { fs::create_directory(ini); }, Unreadable},
      {"a link to itself", [](const fs::path& ini) { fs::create_symlink(ini.filename(), ini); }, Unreadable},
      {"an empty file", [](const fs::path& ini) { std::ofstream{ini}; }, bytesRead("")},
  };
  for (const Case& c : cases) {
    const fs::path folder = root_ / "case";
    fs::remove_all(folder);
    fs::create_directories(folder);
    c.make(folder / "tonalis.ini");
    LinuxFileStore store(folder.string());
    EXPECT_EQ(store.read("tonalis.ini", 100), c.expected) << c.what;
    EXPECT_EQ(store.path("tonalis.ini"), (folder / "tonalis.ini").string()) << c.what;
  }
}

}  // namespace
}  // namespace tonalis::lnx
