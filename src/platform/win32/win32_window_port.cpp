#include "platform/win32/win32_window_port.h"

namespace tonalis {

namespace {

HWND insertAfterHandle(ZOrder z) {
  switch (z) {
    case ZOrder::TopMost: return HWND_TOPMOST;
    case ZOrder::NoTopMost: return HWND_NOTOPMOST;
    case ZOrder::Bottom: return HWND_BOTTOM;
  }
  return HWND_NOTOPMOST;
}

}  // namespace

void Win32WindowPort::restack(ZOrder insertAfter) {
  SetWindowPos(hwnd_, insertAfterHandle(insertAfter), 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

uint32_t Win32WindowPort::extendedStyle() {
  return static_cast<uint32_t>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
}

void Win32WindowPort::setExtendedStyle(uint32_t style) {
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, static_cast<LONG_PTR>(style));
}

Rect Win32WindowPort::windowRect() {
  RECT r{};
  GetWindowRect(hwnd_, &r);  // on failure the zero rectangle, as the handlers accept
  return Rect{r.left, r.top, r.right, r.bottom};
}

void Win32WindowPort::move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
  MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE);
}

void Win32WindowPort::show() { ShowWindow(hwnd_, SW_SHOWNORMAL); }

void Win32WindowPort::hide() { ShowWindow(hwnd_, SW_HIDE); }

bool Win32WindowPort::isVisible() { return IsWindowVisible(hwnd_) != FALSE; }

void Win32WindowPort::beginSystemMove() {
  // SC_MOVE with HTCAPTION (0xF012): the system drags the window as if by its caption.
  SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

void Win32WindowPort::setForeground() { SetForegroundWindow(hwnd_); }

}  // namespace tonalis
