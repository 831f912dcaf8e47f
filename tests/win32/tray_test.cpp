// The tray icon against the real shell (Wine's tray when run under Wine): added, lost when
// the shell restarts, added again after the shell's "TaskbarCreated" broadcast, removed; loaded
// again at a new size when the display's scale changes.
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

// The window the icon belongs to, gone with the test.
struct OwnerWindow {
  HWND hwnd = CreateWindowExW(0, L"STATIC", L"tray owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  OwnerWindow() = default;
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  ~OwnerWindow() {
    if (hwnd) DestroyWindow(hwnd);
  }
};

// A tray port whose icon is in the tray, with the window it belongs to; the port goes first.
class TrayIcon : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(owner, nullptr);
    ASSERT_TRUE(tray.addIcon(IconId, "Tonalis"));
  }

  const OwnerWindow window;
  const HWND owner = window.hwnd;
  Win32TrayPort tray{GetModuleHandleW(nullptr), [this] { return owner; }};
};

// An icon's width in pixels; 0 for a handle that is no icon (a destroyed one).
int iconWidth(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return 0;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

TEST_F(TrayIcon, CanBeAddedAgainWhenTheShellRestarts) {
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

TEST_F(TrayIcon, IsLoadedAtANewScalesSizeAndStaysInTheTray) {
  const int first = smallIconSize(trayDpi());
  EXPECT_EQ(iconWidth(tray.icon()), first) << "added at the tray's small-icon size";

  // Each small image of the icon file in turn, as the scale goes up and down.
  for (const int size : {32, 20, 24, 16}) {
    SCOPED_TRACE(size);
    HICON before = tray.icon();
    ASSERT_TRUE(tray.setIconSize(size));
    EXPECT_EQ(iconWidth(tray.icon()), size);
    EXPECT_EQ(iconWidth(before), 0) << "the icon it replaced was not destroyed";
    EXPECT_TRUE(iconPresent(owner)) << "the tray lost the icon";
  }
  // The same size again: nothing is loaded or sent.
  HICON shown = tray.icon();
  EXPECT_FALSE(tray.setIconSize(16));
  EXPECT_EQ(tray.icon(), shown);

  // A size chosen while the icon is out of the tray is the one added again.
  tray.removeIcon();
  ASSERT_TRUE(tray.setIconSize(24));
  EXPECT_FALSE(iconPresent(owner)) << "a new size added an icon the program had removed";
  ASSERT_TRUE(tray.addIcon(IconId, "Tonalis"));
  EXPECT_EQ(iconWidth(tray.icon()), 24);
  EXPECT_TRUE(iconPresent(owner));
}

}  // namespace
}  // namespace tonalis::win32
