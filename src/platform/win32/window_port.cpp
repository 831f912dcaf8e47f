#include "platform/win32/window_port.h"
#include "platform/win32/util.h"

namespace tonalis::win32 {

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
  RECT before{};
  GetWindowRect(hwnd_, &before);
  MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE);
  const bool resized = before.right - before.left != width || before.bottom - before.top != height;
  if (!resized || !win32::runningUnderWine()) return;
  // Back from a full-screen or desktop strip, under Wine: the window manager may still
  // answer the strip's placements, and Wine takes such a late answer for a move by the
  // user. Let those answers in (peeking processes the pending X events, dispatching
  // nothing) and put the window back where it was asked to be. (A plain move, as when a
  // drag catches up with the pointer, needs none of this.)
  for (int i = 0; i < 5; ++i) {
    Sleep(20);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    RECT now{};
    GetWindowRect(hwnd_, &now);
    if (now.left == x && now.top == y) continue;
    MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE);
  }
}

void Win32WindowPort::show() {
  RECT before{};
  const bool wasHidden = !IsWindowVisible(hwnd_) && GetWindowRect(hwnd_, &before);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  if (!wasHidden || !win32::runningUnderWine()) return;
  // Under Wine the window manager places a window shown again as it likes, and Wine takes
  // that for a move by the user (a layered update used to put it back at once; a painted
  // window is not updated when nothing changed). Let the answer in and put it back.
  for (int i = 0; i < 5; ++i) {
    Sleep(20);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    RECT now{};
    GetWindowRect(hwnd_, &now);
    if (now.left == before.left && now.top == before.top) continue;
    SetWindowPos(hwnd_, nullptr, before.left, before.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Win32WindowPort::hide() { ShowWindow(hwnd_, SW_HIDE); }

bool Win32WindowPort::isVisible() { return IsWindowVisible(hwnd_) != FALSE; }

void Win32WindowPort::beginSystemMove() {
  // SC_MOVE with HTCAPTION (0xF012): the system drags the window as if by its caption.
  SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

void Win32WindowPort::setForeground() { SetForegroundWindow(hwnd_); }

bool Win32WindowPort::isOnAnyScreen(const Rect& rect) {
  const RECT r{rect.left, rect.top, rect.right, rect.bottom};
  return MonitorFromRect(&r, MONITOR_DEFAULTTONULL) != nullptr;
}

}  // namespace tonalis::win32
