#include "platform/win32/dialog_host.h"

#include <exception>

#include "platform/win32/util.h"

namespace tonalis::win32 {

namespace {
// A timer asked for by another thread is started by the window's own thread: SetTimer
// only accepts windows of the calling thread.
constexpr UINT WM_APP_SET_TIMER = WM_APP + 1;
}  // namespace

intptr_t Win32DialogHost::runModal(CDialog& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(dialog.templateId()), owner_, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
  if (!hwnd) return -1;
  // Like a modal loop of the framework it replaces: the dialog is shown once its
  // initialisation is over, even if the initialisation hid it.
  if (!ended_) ShowWindow(hwnd, SW_SHOWNORMAL);
  if (owner_) EnableWindow(owner_, FALSE);
  MSG msg;
  while (!ended_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // WM_QUIT: leave the loop and let an outer loop see it too
      PostQuitMessage(int(msg.wParam));
      break;
    }
    if (got < 0) break;
    if (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd)) {
      current_ = &msg;
      const Message portable{msg.message, msg.wParam, msg.lParam};
      const bool consumed = dialog.preTranslateMessage(portable);
      current_ = nullptr;
      if (consumed) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (owner_) EnableWindow(owner_, TRUE);
  if (onDestroying) onDestroying(hwnd_);
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  dialog_ = nullptr;
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
  bigIcon_ = smallIcon_ = nullptr;
  return result_;
}

void Win32DialogHost::endModal(intptr_t result) {
  result_ = result;
  ended_ = true;
  // Wake the loop in case the call came from outside a message.
  if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK Win32DialogHost::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // No C++ exception may unwind into the system's code that called us: a failed handler
  // leaves the message to default processing and the program goes on.
  try {
    return procedure(hwnd, message, wParam, lParam);
  } catch (const std::exception& e) {
    OutputDebugStringA(e.what());
  } catch (...) {
    OutputDebugStringW(L"Tonalis: a message handler failed");
  }
  return FALSE;
}

INT_PTR Win32DialogHost::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32DialogHost*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(self));
    self->hwnd_ = hwnd;
    if (self->onCreated) self->onCreated(hwnd);
    return self->dialog_->onInitDialog() ? TRUE : FALSE;
  }
  auto* self = reinterpret_cast<Win32DialogHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || !self->dialog_) return FALSE;
  return self->handle(message, wParam, lParam);
}

INT_PTR Win32DialogHost::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP_SET_TIMER) {
    SetTimer(hwnd_, UINT_PTR(wParam), UINT(lParam), nullptr);
    return TRUE;
  }
  if (nativeHook) {
    LRESULT native = 0;
    if (nativeHook(*dialog_, message, wParam, lParam, native)) {
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, native);
      return TRUE;
    }
  }
  intptr_t result = 0;
  if (!dialog_->dispatch({message, wParam, lParam}, result)) return FALSE;
  // These answer through the procedure's return value rather than DWLP_MSGRESULT.
  if (message == WM_QUERYDRAGICON || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORDLG ||
      message == WM_CTLCOLORBTN || message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX) {
    return INT_PTR(result);
  }
  SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return TRUE;
}

intptr_t Win32DialogHost::defaultProcessing(const Message& message) {
  return DefDlgProcW(hwnd_, message.id, message.wParam, message.lParam);
}

bool Win32DialogHost::dialogPreTranslate(const Message&) {
  return current_ && IsDialogMessageW(hwnd_, const_cast<MSG*>(current_));
}

intptr_t Win32DialogHost::sendMessage(const Message& message) {
  return SendMessageW(hwnd_, message.id, message.wParam, message.lParam);
}

void Win32DialogHost::postMessage(const Message& message) {
  if (message.id == WM_QUIT) {
    PostQuitMessage(int(message.wParam));
    return;
  }
  PostMessageW(hwnd_, message.id, message.wParam, message.lParam);
}

void Win32DialogHost::processSentMessages() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool Win32DialogHost::setTimer(uint32_t id, uint32_t periodMillis) {
  if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) {
    return SetTimer(hwnd_, id, periodMillis, nullptr) != 0;
  }
  return PostMessageW(hwnd_, WM_APP_SET_TIMER, id, LPARAM(periodMillis)) != FALSE;
}

void Win32DialogHost::killTimer(uint32_t id) { KillTimer(hwnd_, id); }

void Win32DialogHost::appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (!menu || utf8Label.empty()) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, commandId, widen(utf8Label).c_str());
}

HICON Win32DialogHost::loadIcon(int iconId, int size) {
  return static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(iconId), IMAGE_ICON, size, size, 0));
}

void Win32DialogHost::setIcon(int iconId) {
  if (!bigIcon_) bigIcon_ = loadIcon(iconId, GetSystemMetrics(SM_CXICON));
  if (!smallIcon_) smallIcon_ = loadIcon(iconId, GetSystemMetrics(SM_CXSMICON));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, LPARAM(bigIcon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(smallIcon_));
}

bool Win32DialogHost::isIconic() { return IsIconic(hwnd_) != FALSE; }

void Win32DialogHost::paintIconic(int iconId) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  SendMessageW(hwnd_, WM_ICONERASEBKGND, WPARAM(dc), 0);
  RECT rc;
  GetClientRect(hwnd_, &rc);
  const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  if (!bigIcon_) bigIcon_ = loadIcon(iconId, GetSystemMetrics(SM_CXICON));
  DrawIcon(dc, x, y, bigIcon_);
  EndPaint(hwnd_, &ps);
}

intptr_t Win32DialogHost::dragIcon() { return intptr_t(bigIcon_); }

Point Win32DialogHost::screenSize() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

}  // namespace tonalis::win32

namespace tonalis::win32 {

void Win32DialogHost::setControlText(int controlId, std::string_view utf8Text) {
  SetDlgItemTextW(hwnd_, controlId, widen(utf8Text).c_str());
}

Rect Win32DialogHost::controlScreenRect(int controlId) {
  RECT r{};
  GetWindowRect(GetDlgItem(hwnd_, controlId), &r);
  return {r.left, r.top, r.right, r.bottom};
}

int Win32DialogHost::controlIdOf(intptr_t controlHandle) {
  return GetDlgCtrlID(reinterpret_cast<HWND>(controlHandle));
}

intptr_t Win32DialogHost::controlColors(const Message& message, std::optional<ColorRef> textColor) {
  // What the dialog procedure would answer, then our text colour on the same DC.
  const intptr_t brush = DefWindowProcW(hwnd_, message.id, message.wParam, message.lParam);
  HDC dc = reinterpret_cast<HDC>(message.wParam);
  if (textColor) SetTextColor(dc, *textColor);
  return brush;
}

Point Win32DialogHost::cursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return {p.x, p.y};
}

void Win32DialogHost::setHandCursor() { SetCursor(LoadCursorW(nullptr, IDC_HAND)); }

std::unique_ptr<DialogHost> Win32DialogHost::createDialogHost() {
  return std::make_unique<Win32DialogHost>(instance_, hwnd_);
}

}  // namespace tonalis::win32
