// The settings file's store against the real file system calls (Wine's when run under
// Wine): a replacement is whole, and one that cannot be made leaves the old file.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/file_store.h"

namespace tonalis::win32 {
namespace {

struct InFolder : ::testing::Test {
  wchar_t old[MAX_PATH]{};
  std::wstring dir;
  InFolder() {
    GetCurrentDirectoryW(MAX_PATH, old);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir = std::wstring(temp) + L"tonalis-store-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    SetCurrentDirectoryW(dir.c_str());
  }
  ~InFolder() override {
    SetFileAttributesW(L"tonalis.ini", FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(L"tonalis.ini");
    DeleteFileW(L"tonalis.ini.tmp");
    SetCurrentDirectoryW(old);
    RemoveDirectoryW(dir.c_str());
  }
};

TEST_F(InFolder, ReplacesWholeAndReadsBack) {
  Win32FileStore store;
  EXPECT_FALSE(store.read("tonalis.ini", 8192).has_value());
  ASSERT_TRUE(store.replace("tonalis.ini", std::string(5000, 'a')));
  ASSERT_TRUE(store.replace("tonalis.ini", "xpos 1\r\n"));
  EXPECT_EQ(store.read("tonalis.ini", 8192), std::optional<std::string>("xpos 1\r\n"));
  EXPECT_EQ(store.read("tonalis.ini", 4), std::optional<std::string>("xpos"));
  EXPECT_EQ(GetFileAttributesW(L"tonalis.ini.tmp"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(store.folder().find("tonalis-store-"), std::string::npos);
}

TEST_F(InFolder, AReplacementThatFailsLeavesTheOldFile) {
  Win32FileStore store;
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  // A folder in the temporary file's way makes the write fail before anything is renamed.
  ASSERT_TRUE(CreateDirectoryW(L"tonalis.ini.tmp", nullptr));
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  RemoveDirectoryW(L"tonalis.ini.tmp");
  EXPECT_EQ(store.read("tonalis.ini", 100), std::optional<std::string>("old"));
}

}  // namespace
}  // namespace tonalis::win32
