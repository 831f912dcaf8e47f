// The tray icon (Shell_NotifyIconW) and its pop-up menu (TrackPopupMenu).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "platform/tray_port.h"
#include "platform/win32/win32_dialog_host.h"

namespace tonalis::win32 {

class Win32Tray : public TrayPort {
 public:
  explicit Win32Tray(Win32DialogHost& host) : host_(host) {}
  ~Win32Tray() override;

  void addIcon(uint32_t iconId, uint32_t callbackMessage, std::string_view tip) override;
  void removeIcon() override;
  void trackMenu(const std::vector<MenuItem>& items) override;
  // The shell restarted (its "TaskbarCreated" broadcast): the icon must be added again.
  void restore();

 private:
  Win32DialogHost& host_;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
  HICON icon_ = nullptr;
};

}  // namespace tonalis::win32
