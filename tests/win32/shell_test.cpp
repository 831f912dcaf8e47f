// Starting with the session under Windows: the Run value names this program, quoted, and
// what the menu shows is read from the registry each time.
#include "backend/win32/shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace tonalis::win32 {
namespace {

std::wstring runValue() {
  wchar_t data[4096] = {};
  DWORD size = sizeof data;
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                      L"Tonalis", RRF_RT_REG_SZ, nullptr, data, &size);
  return status == ERROR_SUCCESS ? data : L"";
}

TEST(Win32Shell, StartingWithTheSessionIsTheRunValueOfThisProgram) {
  Win32AppHost host(GetModuleHandleW(nullptr));
  Win32Shell shell(host);
  ASSERT_TRUE(shell.setStartWithSession(false));
  EXPECT_FALSE(shell.startsWithSession());
  EXPECT_TRUE(shell.setStartWithSession(false)) << "nothing to remove is no failure";

  ASSERT_TRUE(shell.setStartWithSession(true));
  EXPECT_TRUE(shell.startsWithSession());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(runValue(), L"\"" + std::wstring(self) + L"\"");

  // Taken out elsewhere (the system's start-up settings): the program reads that.
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Tonalis");
  EXPECT_FALSE(shell.startsWithSession());
}

}  // namespace
}  // namespace tonalis::win32
