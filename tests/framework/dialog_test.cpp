// The message table routes messages and commands to handlers, and the framework's
// defaults end a dialog on OK, Cancel and close.
#include <gtest/gtest.h>

#include "fakes/fake_app_ports.h"
#include "framework/dialog.h"

namespace tonalis {
namespace {

class ProbeDialog : public CDialog {
 public:
  using CDialog::CDialog;
  std::vector<std::string> seen;
  void onTimer() { seen.push_back("timer"); }
  void onCommand42() { seen.push_back("command 42"); }
  intptr_t onNotify(uintptr_t w, intptr_t l) {
    seen.push_back("notify " + std::to_string(w) + " " + std::to_string(l));
    return 7;
  }
  bool onPaint(const Message&, intptr_t&) {
    seen.push_back("paint");
    return false;  // falls through to default processing
  }

 protected:
  std::span<const MessageEntry> messageTable() const override {
    static const MessageEntry table[] = {
        onMessage<&ProbeDialog::onTimer>(WM_TIMER),
        onCommand<&ProbeDialog::onCommand42>(42),
        onMessage<&ProbeDialog::onNotify>(WM_USER + 101),
        onMessage<&ProbeDialog::onPaint>(WM_PAINT),
    };
    return table;
  }
};

struct Routed {
  Message message;
  bool handled;
  intptr_t result;
  const char* seen;      // what the handler recorded, "" for none
  bool ends;             // the dialog ended
};

TEST(MessageTable, RoutesMessagesCommandsAndDefaults) {
  const Routed cases[] = {
      {{WM_TIMER, 1, 0}, true, 0, "timer", false},
      {{WM_COMMAND, 42, 0}, true, 0, "command 42", false},
      {{WM_COMMAND, (1u << 16) | 42, 0}, true, 0, "command 42", false},  // notification code in the high word
      {{WM_COMMAND, 43, 0}, false, 0, "", false},
      {{WM_USER + 101, 133, 0x205}, true, 7, "notify 133 517", false},
      {{WM_PAINT, 0, 0}, false, 0, "paint", false},
      {{WM_MOUSEMOVE, 0, 0}, false, 0, "", false},
      {{WM_COMMAND, IDOK, 0}, true, 0, "", true},
      {{WM_COMMAND, IDCANCEL, 0}, true, 0, "", true},
      {{WM_CLOSE, 0, 0}, true, 0, "", true},
  };
  for (const Routed& c : cases) {
    fakes::CallLog log;
    fakes::FakeDialogHost host(log);
    ProbeDialog dialog(7, host);
    intptr_t result = -1;
    const bool handled = dialog.dispatch(c.message, result);
    SCOPED_TRACE(c.message.id);
    EXPECT_EQ(handled, c.handled);
    if (handled) {
      EXPECT_EQ(result, c.result);
    }
    EXPECT_EQ(dialog.seen.empty() ? std::string() : dialog.seen.front(), c.seen);
    EXPECT_EQ(host.ended, c.ends);
  }
}

TEST(ModalLoop, PreTranslationRunsFirstAndEscapeCancels) {
  fakes::CallLog log;
  fakes::FakeDialogHost host(log);
  ProbeDialog dialog(7, host);
  host.queue = {{WM_TIMER, 1, 0}, {WM_KEYDOWN, VK_ESCAPE, 0}, {WM_TIMER, 1, 0}};
  EXPECT_EQ(dialog.doModal(), IDCANCEL);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"timer"});  // nothing after the dialog ended
}

}  // namespace
}  // namespace tonalis
