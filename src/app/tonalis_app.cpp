#include "app/tonalis_app.h"

#include <memory>

namespace tonalis {

bool CTonalisApp::initInstance() {
  if (!ports_.instance.claim()) {
    ports_.instance.wakeFirst();
    return false;
  }
  auto dialog = std::make_unique<CTonalisDlg>(ports_);
  dialog->doModal();
  if (dialog->workerAbandoned()) {
    // The worker still runs inside the dialog's capture state: it must outlive it.
    workerAbandoned_ = true;
    (void)dialog.release();
  }
  return false;
}

}  // namespace tonalis
