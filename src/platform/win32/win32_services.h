// Clock and shell services of the Win32 backend.
#pragma once

#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/win32/win32_dialog_host.h"

namespace tonalis::win32 {

class Win32Clock : public Clock {
 public:
  uint32_t tickCount() override;
  LocalTime localTime() override;
  void sleepMillis(uint32_t ms) override;
};

class Win32Shell : public Shell {
 public:
  explicit Win32Shell(Win32DialogHost& host) : host_(host) {}
  void showMessage(std::string_view utf8Text) override;
  void openUrl(std::string_view url) override;

 private:
  Win32DialogHost& host_;
};

}  // namespace tonalis::win32
