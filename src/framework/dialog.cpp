#include "framework/dialog.h"

namespace tonalis {

bool CDialog::dispatch(const Message& message, intptr_t& result) {
  const uint32_t command = message.id == WM_COMMAND ? loWord(message.wParam) : 0;
  for (const MessageEntry& entry : messageTable()) {
    if (entry.message == message.id && entry.commandId == command) {
      if (entry.invoke(*this, message, result)) return true;
      break;
    }
  }
  // The framework's own defaults, as a dialog has them: OK and Cancel end it, and so does
  // a close request that no handler took.
  if (message.id == WM_COMMAND && (command == IDOK || command == IDCANCEL)) {
    command == IDOK ? onOK() : onCancel();
    result = 0;
    return true;
  }
  if (message.id == WM_CLOSE) {
    onCancel();
    result = 0;
    return true;
  }
  return false;
}

}  // namespace tonalis
