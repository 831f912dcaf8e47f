#include "backend/win32/event_translation.h"

#include <wtsapi32.h>

#include "backend/win32/hid_host.h"

namespace tonalis::win32 {

namespace {
// WM_SETTINGCHANGE's wParam when the work area changed (SPI_SETWORKAREA).
constexpr WPARAM WorkAreaChanged = 0x002F;
}  // namespace

std::optional<Event> translateMessage(UINT message, WPARAM wParam, LPARAM lParam, const MessageVocabulary& vocabulary) {
  switch (message) {
    case WM_LBUTTONDOWN: return PointerPress{mousePoint(lParam), MouseButton::Left};
    case WM_RBUTTONDOWN: return PointerPress{mousePoint(lParam), MouseButton::Right};
    case WM_MBUTTONDOWN: return PointerPress{mousePoint(lParam), MouseButton::Middle};
    case WM_LBUTTONUP: return PointerRelease{mousePoint(lParam), MouseButton::Left};
    case WM_RBUTTONUP: return PointerRelease{mousePoint(lParam), MouseButton::Right};
    case WM_MBUTTONUP: return PointerRelease{mousePoint(lParam), MouseButton::Middle};
    case WM_LBUTTONDBLCLK: return PointerDoubleClick{mousePoint(lParam), MouseButton::Left};
    case WM_RBUTTONDBLCLK: return PointerDoubleClick{mousePoint(lParam), MouseButton::Right};
    case WM_MBUTTONDBLCLK: return PointerDoubleClick{mousePoint(lParam), MouseButton::Middle};
    case WM_MOUSEMOVE: return PointerMove{mousePoint(lParam), (wParam & MK_LBUTTON) != 0};
    case WM_COMMAND: return Command{LOWORD(wParam)};  // the high word: a control's notification
    // The low four bits of a system command are the system's own; only the About item is
    // the program's, the rest the system's.
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SysCommandAbout && vocabulary.aboutCommand != 0) return Command{vocabulary.aboutCommand};
      return std::nullopt;
    case WM_TIMER: return TimerTick{uint32_t(wParam)};
    case WM_PAINT: return PaintRequest{};
    case WM_ERASEBKGND: return EraseBackground{};
    case WM_CLOSE: return CloseRequest{};
    case WM_DEVICECHANGE: return translateDeviceChange(wParam, lParam);
    case WM_DISPLAYCHANGE: return DisplayChange{};
    case WM_DPICHANGED: {
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      const Rect suggested = r ? Rect{r->left, r->top, r->right, r->bottom} : Rect{};
      return ScaleChange{double(LOWORD(wParam)) / USER_DEFAULT_SCREEN_DPI, suggested};
    }
    case WM_SETTINGCHANGE:
      if (wParam == WorkAreaChanged) return DisplayChange{};
      return std::nullopt;
    case WM_QUERYENDSESSION: return SessionQuery{};
    case WM_ENDSESSION: return SessionEnd{wParam != FALSE};
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_SESSION_LOCK) return SessionLock{true};
      if (wParam == WTS_SESSION_UNLOCK) return SessionLock{false};
      return std::nullopt;
    default: break;
  }
  if (message == TrayCallbackMessage) {
    if (vocabulary.trayIconId == 0 || wParam != vocabulary.trayIconId) return std::nullopt;
    switch (LOWORD(lParam)) {
      case WM_LBUTTONDBLCLK: return TrayActivate{};
      case WM_RBUTTONUP: return TrayMenuRequest{};
      default: return std::nullopt;
    }
  }
  if (message != 0 && message == vocabulary.shellRestart) return ShellRestarted{};
  if (message != 0 && message == vocabulary.wakeRequest) return SecondInstance{};
  return std::nullopt;
}

std::optional<KeyPress> translateKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return std::nullopt;
  switch (msg.wParam) {
    case VK_RETURN: return KeyPress{Key::Enter};
    case VK_ESCAPE: return KeyPress{Key::Escape};
    default: return KeyPress{Key::Other};
  }
}

}  // namespace tonalis::win32
