// CTonalisApp: the application object. Its only job is to run the main window, once per
// session.
#pragma once

#include "app/tonalis_dlg.h"
#include "framework/win_app.h"

namespace tonalis {

class CTonalisApp : public CWinApp {
 public:
  explicit CTonalisApp(AppPorts ports) : ports_(ports) {}
  // Runs the main window modally; false, so the process ends with it. A second copy only
  // asks the first to show itself.
  bool initInstance() override;
  // The exit left the worker inside a device call: the backend must end the process at
  // once, without tearing down the ports the worker still uses.
  bool workerAbandoned() const { return workerAbandoned_; }

 private:
  AppPorts ports_;
  bool workerAbandoned_ = false;
};

}  // namespace tonalis
