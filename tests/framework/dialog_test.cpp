// The event table routes events and commands to handlers, and the framework's defaults
// end a dialog on OK, Cancel and close.
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
  void onNotification(const AppEvent& e) { seen.push_back("notification " + std::to_string(e.id)); }
  bool onPaint() {
    seen.push_back("paint");
    return false;  // falls through to default processing
  }
  bool onSetCursor(CursorRequest& request) {
    seen.push_back("cursor");
    request.shape = CursorShape::Hand;
    return true;
  }

 protected:
  std::span<const EventEntry> eventTable() const override {
    static const EventEntry table[] = {
        onEvent<TimerTick, &ProbeDialog::onTimer>(),
        onCommand<&ProbeDialog::onCommand42>(42),
        onEvent<AppEvent, &ProbeDialog::onNotification>(3),
        onEvent<PaintRequest, &ProbeDialog::onPaint>(),
        onEvent<CursorRequest, &ProbeDialog::onSetCursor>(),
    };
    return table;
  }
};

struct Routed {
  Event event;
  bool handled;
  const char* seen;  // what the handler recorded, "" for none
  bool ends;         // the dialog ended
};

TEST(EventTable, RoutesEventsCommandsAndDefaults) {
  const Routed cases[] = {
      {TimerTick{1}, true, "timer", false},
      {TimerTick{2}, true, "timer", false},  // an entry without an id takes every timer
      {Command{42}, true, "command 42", false},
      {Command{43}, false, "", false},
      {AppEvent{3}, true, "notification 3", false},
      {AppEvent{4}, false, "", false},
      {PaintRequest{}, false, "paint", false},
      {PointerMove{{5, 5}, true}, false, "", false},
      {Command{IdOk}, true, "", true},
      {Command{IdCancel}, true, "", true},
      {CloseRequest{}, true, "", true},
  };
  for (const Routed& c : cases) {
    fakes::CallLog log;
    fakes::FakeDialogHost host(log);
    ProbeDialog dialog(7, host);
    Event event = c.event;
    SCOPED_TRACE(fakes::eventName(event));
    EXPECT_EQ(dialog.dispatch(event), c.handled);
    EXPECT_EQ(dialog.seen.empty() ? std::string() : dialog.seen.front(), c.seen);
    EXPECT_EQ(host.ended, c.ends);
  }
}

TEST(EventTable, AHandlerAnswersThroughTheEvent) {
  fakes::CallLog log;
  fakes::FakeDialogHost host(log);
  ProbeDialog dialog(7, host);
  Event event = CursorRequest{};
  EXPECT_TRUE(dialog.dispatch(event));
  EXPECT_EQ(std::get<CursorRequest>(event).shape, CursorShape::Hand);
}

TEST(ModalLoop, PreTranslationRunsFirstAndEscapeCancels) {
  fakes::CallLog log;
  fakes::FakeDialogHost host(log);
  ProbeDialog dialog(7, host);
  host.queue = {TimerTick{1}, KeyPress{Key::Escape}, TimerTick{1}};
  EXPECT_EQ(dialog.doModal(), IdCancel);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"timer"});  // nothing after the dialog ended
}

}  // namespace
}  // namespace tonalis
