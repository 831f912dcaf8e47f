// The Win32 side of the application's host: the main window (a dialog window made from its
// template, shown once the program has started), the message loop with the window's key
// handling, a dialog procedure that turns native messages into typed events for the
// application's handler and answers the system from what the handler left in them, window
// timers, events posted from any thread, and the About box.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "platform/app_host.h"
#include "platform/shell.h"
#include "backend/win32/event_translation.h"

namespace tonalis::win32 {

class Win32AppHost : public AppHost {
 public:
  explicit Win32AppHost(HINSTANCE instance) : instance_(instance) {}
  ~Win32AppHost() override;
  Win32AppHost(const Win32AppHost&) = delete;
  Win32AppHost& operator=(const Win32AppHost&) = delete;

  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }
  // The run-time message ids the main window understands (the tray's callback, the shell's
  // restart, a second copy's wake-up) and the command its system menu's About item gives.
  MessageVocabulary vocabulary;
  // The main window exists (hidden) / is about to be destroyed: the backend binds and
  // unbinds its window-dependent objects.
  std::function<void(HWND)> onCreated;
  std::function<void(HWND)> onDestroying;
  // A message that may tell of a new display scale came (WM_DPICHANGED, WM_DISPLAYCHANGE,
  // WM_SETTINGCHANGE): what the backend sizes by the scale itself is sized again. The
  // message goes on to the application's handler either way.
  std::function<void()> onDisplayChanged;
  // The shell the About box opens its link with (and tells a failure through).
  void useShell(Shell& shell) { shell_ = &shell; }

  // The main window from its template, with the About item appended to its system menu.
  bool createMainWindow() override;

  void setHandler(EventHandler handler) override { handler_ = std::move(handler); }
  void post(const Event& event) override;
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override;
  std::vector<Monitor> monitors() override;
  void setWindowIcon() override;
  bool isMinimized() override;
  void run() override;
  void quit() override;
  void showAbout(const AboutInfo& info) override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  // Hands one event to the application; true when it was handled. A failed handler
  // counts as not handled: the system's default processing goes on.
  bool dispatch(Event& event);
  // Dispatches one event and answers `message` as its handler decided.
  INT_PTR deliver(Event& event, UINT message, WPARAM wParam, LPARAM lParam);
  void deliverPosted();
  void paintMinimized();
  void destroyWindow();
  HICON loadIcon(int size);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  EventHandler handler_;
  Shell* shell_ = nullptr;
  bool quitting_ = false;
  bool sessionNotified_ = false;
  HWND about_ = nullptr;  // the About box while it is open
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  std::mutex postedMutex_;
  std::deque<Event> posted_;  // events posted from any thread, for the window's thread
};

}  // namespace tonalis::win32
