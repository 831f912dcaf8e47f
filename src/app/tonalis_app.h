// CTonalisApp: the application object. Its only job is to run the main window.
#pragma once

#include "app/tonalis_dlg.h"
#include "framework/win_app.h"

namespace tonalis {

class CTonalisApp : public CWinApp {
 public:
  explicit CTonalisApp(AppPorts ports) : ports_(ports) {}
  // Runs the main window modally; false, so the process ends with it.
  bool initInstance() override;

 private:
  AppPorts ports_;
};

}  // namespace tonalis
