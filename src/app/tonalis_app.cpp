#include "app/tonalis_app.h"

namespace tonalis {

bool CTonalisApp::initInstance() {
  CTonalisDlg dialog(ports_);
  dialog.doModal();
  return false;
}

}  // namespace tonalis
