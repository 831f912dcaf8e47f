#include "backend/win32/dialog_host.h"

#include <exception>

#include <wtsapi32.h>

#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {
// A timer asked for by another thread is started by the window's own thread: SetTimer
// only accepts windows of the calling thread.
constexpr UINT WM_APP_SET_TIMER = WM_APP + 1;
// Events are waiting in the posted queue.
constexpr UINT WM_APP_POSTED_EVENTS = WM_APP + 2;
}  // namespace

intptr_t Win32DialogHost::runModal(CDialog& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(dialog.templateId()), owner_, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
  if (!hwnd) return -1;
  // The main window hears of the session's lock, when nobody sees it.
  const bool sessionNotified = !owner_ && WTSRegisterSessionNotification(hwnd, NOTIFY_FOR_THIS_SESSION);
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
      // Keys go to the dialog first; everything else to the system's dialog handling
      // (which dispatches what it does not use itself).
      current_ = &msg;
      const std::optional<KeyPress> key = translateKey(msg);
      const bool consumed = key ? dialog.preTranslateMessage(*key) : IsDialogMessageW(hwnd_, &msg) != FALSE;
      current_ = nullptr;
      if (consumed) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (owner_) EnableWindow(owner_, TRUE);
  if (onDestroying) onDestroying(hwnd_);
  if (sessionNotified) WTSUnRegisterSessionNotification(hwnd_);
  DestroyWindow(hwnd_);
  {
    // What was posted for this window and not yet delivered goes with it.
    std::lock_guard lock(postedMutex_);
    hwnd_ = nullptr;
    posted_.clear();
  }
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
    {
      std::lock_guard lock(self->postedMutex_);
      self->hwnd_ = hwnd;
    }
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
  if (message == WM_APP_POSTED_EVENTS) {
    deliverPosted();
    return TRUE;
  }
  if (message == WM_QUERYDRAGICON) {
    // The icon dragged for a minimised window: the one set for it, if any.
    return bigIcon_ ? INT_PTR(bigIcon_) : FALSE;
  }
  std::optional<Event> event = translateMessage(message, wParam, lParam, vocabulary);
  if (!event) return FALSE;
  return deliver(*event, message, wParam, lParam);
}

INT_PTR Win32DialogHost::deliver(Event& event, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!dialog_->dispatch(event)) return FALSE;
  // A dialog procedure answers through DWLP_MSGRESULT, except for the WM_CTLCOLOR*
  // messages, whose brush is its return value.
  LRESULT answer = 0;
  if (auto* request = std::get_if<ControlColorRequest>(&event)) {
    // The system's colours, then the handler's text colour on the same device context.
    const INT_PTR brush = DefWindowProcW(hwnd_, message, wParam, lParam);
    if (request->textColor) {
      const Rgb c = *request->textColor;
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
    }
    return brush;
  } else if (auto* cursor = std::get_if<CursorRequest>(&event)) {
    if (cursor->shape == CursorShape::Hand) SetCursor(LoadCursorW(nullptr, IDC_HAND));
    answer = TRUE;  // the cursor is set: the system must not set its own
  } else if (std::holds_alternative<EraseBackground>(event)) {
    answer = 1;  // erased (nothing to erase)
  } else if (auto* query = std::get_if<SessionQuery>(&event)) {
    answer = query->agree ? TRUE : FALSE;
  } else if (std::holds_alternative<DeviceChange>(event)) {
    answer = TRUE;
  }
  if (message == WM_SETTINGCHANGE) return FALSE;  // a broadcast others may want too
  SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, answer);
  return TRUE;
}

void Win32DialogHost::deliverPosted() {
  // Everything queued so far, in order; an event posted meanwhile has its own wake-up.
  for (;;) {
    std::optional<Event> next;
    {
      std::lock_guard lock(postedMutex_);
      if (posted_.empty()) return;
      next = std::move(posted_.front());
      posted_.pop_front();
    }
    if (!dialog_) return;
    dialog_->dispatch(*next);
  }
}

bool Win32DialogHost::dialogPreTranslate(const KeyPress&) {
  return current_ && IsDialogMessageW(hwnd_, const_cast<MSG*>(current_));
}

void Win32DialogHost::post(const Event& event) {
  HWND target = nullptr;
  {
    // Without a window there is no one to hear it: dropped, as a message posted to no
    // window would be.
    std::lock_guard lock(postedMutex_);
    if (!hwnd_) return;
    target = hwnd_;
    posted_.push_back(event);
  }
  // A wake-up that cannot be posted leaves the event for the next one.
  PostMessageW(target, WM_APP_POSTED_EVENTS, 0, 0);
}

void Win32DialogHost::postQuit() { PostQuitMessage(0); }

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

namespace {

Rect toRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info)) {
    // The program is DPI aware per monitor: each monitor's own scale.
    reinterpret_cast<std::vector<Monitor>*>(list)->push_back(
        {toRect(info.rcMonitor), toRect(info.rcWork), (info.dwFlags & MONITORINFOF_PRIMARY) != 0,
         double(monitorDpi(monitor)) / USER_DEFAULT_SCREEN_DPI});
  }
  return TRUE;
}

}  // namespace

std::vector<Monitor> Win32DialogHost::monitors() {
  std::vector<Monitor> list;
  EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&list));
  if (list.empty()) {
    // No monitor reported (a session without a console): the primary screen's metrics.
    const Rect whole{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    list.push_back({whole, whole, true, double(systemDpi()) / USER_DEFAULT_SCREEN_DPI});
  }
  return list;
}

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

Point Win32DialogHost::cursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return {p.x, p.y};
}

std::unique_ptr<DialogHost> Win32DialogHost::createDialogHost() {
  return std::make_unique<Win32DialogHost>(instance_, hwnd_);
}

}  // namespace tonalis::win32
