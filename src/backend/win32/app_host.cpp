#include "backend/win32/app_host.h"

#include <exception>

#include <wtsapi32.h>

#include "backend/win32/about_box.h"
#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {
// A timer asked for by another thread is started by the window's own thread: SetTimer
// only accepts windows of the calling thread.
constexpr UINT WM_APP_SET_TIMER = WM_APP + 1;
// Events are waiting in the posted queue.
constexpr UINT WM_APP_POSTED_EVENTS = WM_APP + 2;
// The main window's template and its icon, in the resource script.
constexpr int MainTemplateId = 102;
constexpr int ProgramIconId = 133;
// The About item's text in the resource script's string table.
constexpr UINT AboutItemStringId = 101;
}  // namespace

Win32AppHost::~Win32AppHost() {
  // Only when something failed on the way out: what onDestroying would unbind is gone by now.
  onDestroying = nullptr;
  destroyWindow();
}

bool Win32AppHost::createMainWindow() {
  // The template has no WS_VISIBLE: the window shows once the program has started (run).
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(MainTemplateId), nullptr, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
  if (!hwnd) return false;
  // It hears of the session's lock, when nobody sees it.
  sessionNotified_ = WTSRegisterSessionNotification(hwnd, NOTIFY_FOR_THIS_SESSION) != FALSE;
  // The window has no caption; its system menu (Alt+Space) offers the About box.
  wchar_t label[64] = {};
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  if (menu && LoadStringW(instance_, AboutItemStringId, label, int(std::size(label))) > 0) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, SysCommandAbout, label);
  }
  return true;
}

void Win32AppHost::destroyWindow() {
  if (!hwnd_) return;
  if (onDestroying) onDestroying(hwnd_);
  if (sessionNotified_) WTSUnRegisterSessionNotification(hwnd_);
  sessionNotified_ = false;
  HWND hwnd = hwnd_;
  {
    // What was posted for this window and not yet delivered goes with it.
    std::lock_guard lock(postedMutex_);
    hwnd_ = nullptr;
    posted_.clear();
  }
  DestroyWindow(hwnd);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
  bigIcon_ = smallIcon_ = nullptr;
}

void Win32AppHost::run() {
  if (hwnd_ && !quitting_) {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    MSG msg;
    while (!quitting_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd)) {
        // Keys go to the application first; what it leaves, and everything else, to the
        // system's dialog handling (which dispatches what it does not use itself).
        if (std::optional<KeyPress> key = translateKey(msg)) {
          Event event = *key;
          if (dispatch(event)) continue;
        }
        if (IsDialogMessageW(hwnd_, &msg)) continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  destroyWindow();
}

void Win32AppHost::quit() {
  quitting_ = true;
  // Ends an About box's loop too, and wakes this one.
  PostQuitMessage(0);
}

bool Win32AppHost::dispatch(Event& event) {
  if (!handler_) return false;
  return handler_(event);
}

INT_PTR CALLBACK Win32AppHost::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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

INT_PTR Win32AppHost::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32AppHost*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(self));
    {
      std::lock_guard lock(self->postedMutex_);
      self->hwnd_ = hwnd;
    }
    if (self->onCreated) self->onCreated(hwnd);
    return TRUE;
  }
  auto* self = reinterpret_cast<Win32AppHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || self->hwnd_ != hwnd) return FALSE;
  return self->handle(message, wParam, lParam);
}

INT_PTR Win32AppHost::handle(UINT message, WPARAM wParam, LPARAM lParam) {
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
  if (IsIconic(hwnd_)) {
    // A minimised window shows the program's icon; nothing of the frame.
    if (message == WM_PAINT) {
      paintMinimized();
      return TRUE;
    }
    if (message == WM_ERASEBKGND) return FALSE;
  }
  if ((message == WM_DPICHANGED || message == WM_DISPLAYCHANGE || message == WM_SETTINGCHANGE) && onDisplayChanged) {
    onDisplayChanged();
  }
  std::optional<Event> event = translateMessage(message, wParam, lParam, vocabulary);
  if (!event) return FALSE;
  return deliver(*event, message, wParam, lParam);
}

INT_PTR Win32AppHost::deliver(Event& event, UINT message, WPARAM, LPARAM) {
  if (!dispatch(event)) return FALSE;
  // A dialog procedure answers through DWLP_MSGRESULT.
  LRESULT answer = 0;
  if (std::holds_alternative<EraseBackground>(event)) {
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

void Win32AppHost::deliverPosted() {
  // Everything queued so far, in order; an event posted meanwhile has its own wake-up.
  for (;;) {
    std::optional<Event> next;
    {
      std::lock_guard lock(postedMutex_);
      if (posted_.empty() || !hwnd_) return;
      next = std::move(posted_.front());
      posted_.pop_front();
    }
    dispatch(*next);
  }
}

void Win32AppHost::post(const Event& event) {
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

bool Win32AppHost::setTimer(uint32_t id, uint32_t periodMillis) {
  if (!hwnd_) return false;
  if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) {
    return SetTimer(hwnd_, id, periodMillis, nullptr) != 0;
  }
  return PostMessageW(hwnd_, WM_APP_SET_TIMER, id, LPARAM(periodMillis)) != FALSE;
}

void Win32AppHost::killTimer(uint32_t id) {
  if (hwnd_) KillTimer(hwnd_, id);
}

HICON Win32AppHost::loadIcon(int size) {
  return static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ProgramIconId), IMAGE_ICON, size, size, 0));
}

void Win32AppHost::setWindowIcon() {
  if (!hwnd_) return;
  // Big, then small; the big one is also the icon dragged.
  if (!bigIcon_) bigIcon_ = loadIcon(GetSystemMetrics(SM_CXICON));
  if (!smallIcon_) smallIcon_ = loadIcon(GetSystemMetrics(SM_CXSMICON));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, LPARAM(bigIcon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(smallIcon_));
}

bool Win32AppHost::isMinimized() { return hwnd_ && IsIconic(hwnd_) != FALSE; }

void Win32AppHost::paintMinimized() {
  // Erase the icon's background, draw the icon centred.
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  SendMessageW(hwnd_, WM_ICONERASEBKGND, WPARAM(dc), 0);
  RECT rc;
  GetClientRect(hwnd_, &rc);
  const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  if (!bigIcon_) bigIcon_ = loadIcon(GetSystemMetrics(SM_CXICON));
  DrawIcon(dc, x, y, bigIcon_);
  EndPaint(hwnd_, &ps);
}

void Win32AppHost::showAbout(const AboutInfo& info) {
  if (!hwnd_ || quitting_) return;
  if (about_) {
    // One box at a time: the open one comes forward.
    SetForegroundWindow(about_);
    return;
  }
  runAboutBox(instance_, hwnd_, info, shell_, about_);
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

std::vector<Monitor> Win32AppHost::monitors() {
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
