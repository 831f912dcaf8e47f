// The tray icon (Shell_NotifyIconW) and its pop-up menu (TrackPopupMenu).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>

#include "platform/tray_port.h"
#include "backend/win32/util.h"

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
  // The display's scale may have changed: the icon at the tray's small-icon size now.
  void fitIconToTray() { setIconSize(smallIconSize(trayDpi())); }
  // The icon loaded anew at `size` pixels and, when the shell shows it, handed to the shell.
  // True when it was; false when it already had that size or could not be loaded (then the
  // one shown stays).
  bool setIconSize(int size);
  // The icon handed to the shell; null before the first addIcon or without the resource.
  HICON icon() const { return icon_; }

 private:
  HINSTANCE instance_;
  std::function<HWND()> window_;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
  UINT taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  uint32_t iconId_ = 0;  // the icon's resource, known from the first addIcon
  HICON icon_ = nullptr;
  int iconSize_ = 0;
};

}  // namespace tonalis::win32
