#include "framework/dialog.h"

namespace tonalis {

bool CDialog::dispatch(Event& event) {
  const size_t kind = event.index();
  const uint32_t id = eventId(event);
  for (const EventEntry& entry : eventTable()) {
    if (entry.kind == kind && (entry.id == 0 || entry.id == id)) {
      if (entry.invoke(*this, event)) return true;
      break;
    }
  }
  // The framework's own defaults, as a dialog has them: OK and Cancel end it, and so does
  // a close request that no handler took.
  if (const auto* command = std::get_if<Command>(&event); command && (command->id == IdOk || command->id == IdCancel)) {
    command->id == IdOk ? onOK() : onCancel();
    return true;
  }
  if (std::holds_alternative<CloseRequest>(event)) {
    onCancel();
    return true;
  }
  return false;
}

}  // namespace tonalis
