// The settings file's store against the real file system calls (Wine's when run under
// Wine): a replacement is whole, and one that cannot be made leaves the old file.
#include <gtest/gtest.h>

#include <string>

#include "backend/win32/file_store.h"

namespace tonalis::win32 {
namespace {

FileReadResult bytesRead(std::string bytes) { return {FileReadStatus::Read, std::move(bytes)}; }

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
    RemoveDirectoryW(L"tonalis.ini");
    SetCurrentDirectoryW(old);
    RemoveDirectoryW(dir.c_str());
  }
};

TEST_F(InFolder, ReplacesWholeAndReadsBack) {
  Win32FileStore store;
  EXPECT_EQ(store.read("tonalis.ini", 8192).status, FileReadStatus::Missing);
  ASSERT_TRUE(store.replace("tonalis.ini", std::string(5000, 'a')));
  ASSERT_TRUE(store.replace("tonalis.ini", "xpos 1\r\n"));
  EXPECT_EQ(store.read("tonalis.ini", 8192), bytesRead("xpos 1\r\n"));
  EXPECT_EQ(store.read("tonalis.ini", 4), bytesRead("xpos"));
  EXPECT_EQ(GetFileAttributesW(L"tonalis.ini.tmp"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(store.folder().find("tonalis-store-"), std::string::npos);
  EXPECT_EQ(store.path("tonalis.ini"), store.folder() + "\\tonalis.ini");
}

// A file that is there but cannot be read must be told apart from a missing one, or the
// first save would replace the user's settings with the defaults.
TEST_F(InFolder, AFileHeldOpenWithoutSharingIsUnreadableNotMissing) {
  Win32FileStore store;
  ASSERT_TRUE(store.replace("tonalis.ini", "xpos 1\r\n"));
  HANDLE held = CreateFileW(L"tonalis.ini", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(store.read("tonalis.ini", 100).status, FileReadStatus::Unreadable);
  CloseHandle(held);
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("xpos 1\r\n"));
}

TEST_F(InFolder, AFolderInTheFilesPlaceIsUnreadableNotMissing) {
  Win32FileStore store;
  ASSERT_TRUE(CreateDirectoryW(L"tonalis.ini", nullptr));
  EXPECT_EQ(store.read("tonalis.ini", 100).status, FileReadStatus::Unreadable);
}

TEST_F(InFolder, AReplacementThatFailsLeavesTheOldFile) {
  Win32FileStore store;
  ASSERT_TRUE(store.replace("tonalis.ini", "old"));
  // A folder in the temporary file's way makes the write fail before anything is renamed.
  ASSERT_TRUE(CreateDirectoryW(L"tonalis.ini.tmp", nullptr));
  EXPECT_FALSE(store.replace("tonalis.ini", "new"));
  RemoveDirectoryW(L"tonalis.ini.tmp");
  EXPECT_EQ(store.read("tonalis.ini", 100), bytesRead("old"));
}

}  // namespace
}  // namespace tonalis::win32
