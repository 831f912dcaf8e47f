// One copy per session: a named mutex held for the process's life, and a registered
// message that asks the first copy's main window to show itself.
#pragma once

#include <windows.h>

#include "platform/instance_guard.h"

namespace tonalis::win32 {

class Win32InstanceGuard : public InstanceGuard {
 public:
  Win32InstanceGuard();
  ~Win32InstanceGuard() override;
  bool claim() override;
  void wakeFirst() override;

  // Marks `hwnd` as the main window a second copy looks for.
  static void markMainWindow(HWND hwnd);
  static void unmarkMainWindow(HWND hwnd);
  // A second copy's request (the main window then shows itself); 0 when it could not be
  // registered.
  UINT wakeMessage() const { return wakeMessage_; }

 private:
  HANDLE mutex_ = nullptr;
  UINT wakeMessage_;
};

}  // namespace tonalis::win32
