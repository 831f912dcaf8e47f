// The Win32 shell services: message boxes over the main window, opening a web page,
// starting with the session.
#pragma once

#include "platform/shell.h"
#include "backend/win32/app_host.h"

namespace tonalis::win32 {

class Win32Shell : public Shell {
 public:
  explicit Win32Shell(Win32AppHost& host) : host_(host) {}
  void showMessage(std::string_view utf8Text) override;
  bool openUrl(std::string_view url) override;
  // The value "Tonalis" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run.
  bool startsWithSession() override;
  bool setStartWithSession(bool on) override;

 private:
  Win32AppHost& host_;
};

}  // namespace tonalis::win32
