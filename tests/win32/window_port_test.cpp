// The window port's plain operations on a real window: click-through is the transparent bit
// of a layered window and keeps every other bit; no taskbar button is a tool window.
#include "backend/win32/window_port.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace tonalis::win32 {
namespace {

TEST(Win32WindowPort, ClickThroughAndTheTaskbarButtonAreExtendedStyleBits) {
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_APPWINDOW, L"STATIC", L"probe", WS_POPUP, 0, 0, 40, 40,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(hwnd, nullptr);
  Win32WindowPort port(hwnd);
  const auto style = [&] { return LONG_PTR(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)); };

  port.setTaskbarButton(false);
  EXPECT_TRUE(style() & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(style() & WS_EX_APPWINDOW) << "an app window would keep its button";

  port.setClickThrough(true);
  EXPECT_EQ(style() & (WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW),
            LONG_PTR(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW));
  port.setClickThrough(false);
  EXPECT_EQ(style() & (WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW),
            LONG_PTR(WS_EX_LAYERED | WS_EX_TOOLWINDOW));

  port.setStacking(Stacking::Above);
  EXPECT_TRUE(style() & WS_EX_TOPMOST);
  port.setStacking(Stacking::Normal);
  EXPECT_FALSE(style() & WS_EX_TOPMOST);
  DestroyWindow(hwnd);
}

}  // namespace
}  // namespace tonalis::win32
