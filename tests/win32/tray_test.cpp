// The tray icon against the real shell (Wine's tray when run under Wine): added, lost when
// the shell restarts, added again after the shell's "TaskbarCreated" broadcast, removed.
#include <gtest/gtest.h>

#include "backend/win32/tray_port.h"

namespace tonalis::win32 {
namespace {

constexpr UINT IconId = 133;

// Whether the shell knows our icon: modifying an icon it does not have fails.
bool iconPresent(HWND owner) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = owner;
  probe.uID = IconId;
  probe.uFlags = NIF_TIP;
  wcscpy(probe.szTip, L"Tonalis");
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

TEST(Win32TrayPort, TheIconCanBeAddedAgainWhenTheShellRestarts) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"tray owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  {
    Win32TrayPort tray(GetModuleHandleW(nullptr), [owner] { return owner; });
    ASSERT_TRUE(tray.addIcon(IconId, "Tonalis"));
    ASSERT_TRUE(iconPresent(owner)) << "the shell did not take the icon";
    // Asking again while it is there still answers "in the tray".
    EXPECT_TRUE(tray.addIcon(IconId, "Tonalis"));
    tray.showBalloon("设置未能保存", "C:\\Tonalis");

    // A restarted shell has forgotten every icon; it then broadcasts "TaskbarCreated".
    NOTIFYICONDATAW gone{};
    gone.cbSize = sizeof(gone);
    gone.hWnd = owner;
    gone.uID = IconId;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    ASSERT_FALSE(iconPresent(owner));
    EXPECT_EQ(tray.shellRestartMessage(), RegisterWindowMessageW(L"TaskbarCreated"));
    EXPECT_TRUE(tray.addIcon(IconId, "Tonalis"));
    EXPECT_TRUE(iconPresent(owner));

    tray.removeIcon();
    EXPECT_FALSE(iconPresent(owner));
  }
  DestroyWindow(owner);
}

}  // namespace
}  // namespace tonalis::win32
