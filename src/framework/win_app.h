// CWinApp: the application object. The backend's entry point calls run(), which calls
// initInstance(). A dialog-based program runs its main dialog modally inside
// initInstance and returns false: the process ends when the dialog ends.
#pragma once

namespace tonalis {

class CWinApp {
 public:
  virtual ~CWinApp() = default;
  virtual bool initInstance() = 0;
  // The process exit code. This framework has no application-level message loop:
  // every window of the program lives inside a modal dialog's loop.
  int run() {
    initInstance();
    return 0;
  }
};

}  // namespace tonalis
