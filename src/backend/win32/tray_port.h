// The tray icon (Shell_NotifyIconW) and its pop-up menu (TrackPopupMenu).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>

#include "platform/tray_port.h"

namespace tonalis::win32 {

class Win32TrayPort : public TrayPort {
 public:
  // `window` answers the main window (the icon's owner, which gets its notifications);
  // it may not exist yet when the tray is made.
  Win32TrayPort(HINSTANCE instance, std::function<HWND()> window)
      : instance_(instance), window_(std::move(window)) {}
  ~Win32TrayPort() override;

  // The shell reports mouse events on the icon as TrayCallbackMessage to the window.
  bool addIcon(uint32_t iconId, std::string_view tip) override;
  void removeIcon() override;
  void setTip(std::string_view tip) override;
  void showBalloon(std::string_view title, std::string_view text) override;
  void trackMenu(const std::vector<MenuItem>& items) override;
  // The shell's "TaskbarCreated" broadcast: a new shell, which has forgotten every icon
  // (the main window then adds its icon again). 0 when it could not be registered.
  UINT shellRestartMessage() const { return taskbarCreated_; }

 private:
  HINSTANCE instance_;
  std::function<HWND()> window_;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
  UINT taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  HICON icon_ = nullptr;
};

}  // namespace tonalis::win32
