#include "backend/win32/window_port.h"
#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {

HWND insertAfterHandle(Stacking stacking) {
  switch (stacking) {
    case Stacking::Above: return HWND_TOPMOST;
    case Stacking::Normal: return HWND_NOTOPMOST;
    case Stacking::Below: return HWND_BOTTOM;
  }
  return HWND_NOTOPMOST;
}

// Under Wine the window manager answers a placement late, and Wine takes such an answer
// for a move by the user. Let the answers in (peeking processes the pending X events,
// dispatching nothing) and put the window back wherever it moved away from (x, y).
template <typename PutBack>
void holdPlaceAgainstLateAnswers(HWND hwnd, int32_t x, int32_t y, PutBack putBack) {
  for (int i = 0; i < 5; ++i) {
    Sleep(20);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    RECT now{};
    GetWindowRect(hwnd, &now);
    if (now.left != x || now.top != y) putBack();
  }
}

}  // namespace

void Win32WindowPort::setStacking(Stacking stacking) {
  SetWindowPos(hwnd_, insertAfterHandle(stacking), 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void Win32WindowPort::setClickThrough(bool on) {
  LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_LAYERED;
  style = on ? style | WS_EX_TRANSPARENT : style & ~LONG_PTR(WS_EX_TRANSPARENT);
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, style);
}

void Win32WindowPort::setTaskbarButton(bool shown) {
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, shown ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW);
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
  // Back from a full-screen or desktop strip the window manager may still answer the
  // strip's placements. (A plain move, as when a drag catches up with the pointer, needs
  // none of this.)
  holdPlaceAgainstLateAnswers(hwnd_, x, y, [&] { MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE); });
}

void Win32WindowPort::show() {
  RECT before{};
  const bool wasHidden = !IsWindowVisible(hwnd_) && GetWindowRect(hwnd_, &before);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  if (!wasHidden || !win32::runningUnderWine()) return;
  // The window manager places a window shown again as it likes (a layered update used to
  // put it back at once; a painted window is not updated when nothing changed).
  holdPlaceAgainstLateAnswers(hwnd_, before.left, before.top, [&] {
    SetWindowPos(hwnd_, nullptr, before.left, before.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  });
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
