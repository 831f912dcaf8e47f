// The event table routes events and commands to handlers; what no handler takes goes to
// the system's default processing.
#include <gtest/gtest.h>

#include "app/event_table.h"
#include "fakes/fake_app_ports.h"

namespace tonalis {
namespace {

class Probe {
 public:
  std::vector<std::string> seen;
  void onTimer() { seen.push_back("timer"); }
  void onCommand42() { seen.push_back("command 42"); }
  void onNotification(const AppEvent& e) { seen.push_back("notification " + std::to_string(e.id)); }
  bool onPaint() {
    seen.push_back("paint");
    return false;  // falls through to default processing
  }
  bool onQuery(SessionQuery& query) {
    seen.push_back("query");
    query.agree = false;
    return true;
  }
  void onCommand7() { seen.push_back("command 7"); }
  void onAnyCommand() { seen.push_back("any command"); }

  static constexpr EventEntry<Probe> table[] = {
      onEvent<TimerTick, &Probe::onTimer>(),
      onCommand<&Probe::onCommand42>(42),
      onEvent<AppEvent, &Probe::onNotification>(3),
      onEvent<PaintRequest, &Probe::onPaint>(),
      onEvent<SessionQuery, &Probe::onQuery>(),
      onCommand<&Probe::onCommand7>(7),
      onEvent<Command, &Probe::onAnyCommand>(),  // after the ones with ids: takes the rest
  };
};

TEST(EventTable, RoutesEventsByKindAndIdAndLeavesTheRestToTheSystem) {
  struct Routed {
    Event event;
    bool handled;
    const char* seen;  // what the handler recorded, "" for none
  };
  const Routed cases[] = {
      {TimerTick{1}, true, "timer"},
      {TimerTick{2}, true, "timer"},  // an entry without an id takes every timer
      {Command{42}, true, "command 42"},
      {Command{7}, true, "command 7"},
      {Command{43}, true, "any command"},
      {AppEvent{3}, true, "notification 3"},
      {AppEvent{4}, false, ""},
      {PaintRequest{}, false, "paint"},  // the handler declined
      {PointerMove{{5, 5}, true}, false, ""},
      {CloseRequest{}, false, ""},
  };
  for (const Routed& c : cases) {
    Probe probe;
    Event event = c.event;
    SCOPED_TRACE(fakes::eventName(event));
    EXPECT_EQ(dispatchEvent<Probe>(Probe::table, probe, event), c.handled);
    EXPECT_EQ(probe.seen.empty() ? std::string() : probe.seen.front(), c.seen);
    EXPECT_LE(probe.seen.size(), 1u) << "one handler per event";
  }
}

TEST(EventTable, AHandlerAnswersThroughTheEvent) {
  Probe probe;
  Event event = SessionQuery{};
  EXPECT_TRUE(dispatchEvent<Probe>(Probe::table, probe, event));
  EXPECT_FALSE(std::get<SessionQuery>(event).agree);
}

}  // namespace
}  // namespace tonalis
