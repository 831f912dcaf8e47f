#include "window/window_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_window.h"

namespace tonalis {
namespace {

using Calls = std::vector<std::string>;

constexpr Point ClientSize{443, 145};

// Sleeps are written into the window's call log so their place in a sequence shows.
class NotingClock : public Clock {
 public:
  explicit NotingClock(FakeWindow& window) : window_(window) {}
  uint32_t tickCount() override { return 0; }
  LocalTime localTime() override { return {}; }
  void sleepMillis(uint32_t ms) override { window_.note("sleep " + std::to_string(ms)); }

 private:
  FakeWindow& window_;
};

struct Fixture {
  FakeWindow window;
  NotingClock clock{window};
  DisplayState state;
};

// ---- Transparency ---------------------------------------------------------------

struct TransparencyRow {
  int32_t mode;
  Rgb unlit;
  uint8_t alpha;
};

TEST(Transparency, EachModeSetsUnlitColourAndAlphaAndKeepsTheModeField) {
  const TransparencyRow rows[] = {
      {Opaque, 0x1E1E1E, 255},     {Alpha20, 0x1E1E1E, 180}, {Alpha40, 0x1E1E1E, 140},
      {Alpha60, 0x1E1E1E, 100},    {Alpha80, 0x1E1E1E, 60},  {NoBackground, 0x000000, 255},
      {Minimal, 0x000000, 255},    {7, 0x1E1E1E, 255},       {-1, 0x1E1E1E, 255},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    Fixture f;
    f.state.transparencyMode = Alpha40;
    f.state.unlitCellColor = 0x123456;
    f.state.constantAlpha = 1;
    applyTransparencyMode(f.state, f.window, row.mode);
    EXPECT_EQ(f.state.unlitCellColor, row.unlit);
    EXPECT_EQ(f.state.constantAlpha, row.alpha);
    EXPECT_EQ(f.state.transparencyMode, Alpha40);  // applying never writes the choice
    EXPECT_EQ(f.window.calls, (Calls{"clickThrough off"}));

    Fixture g;
    selectTransparencyMode(g.state, g.window, false, row.mode);
    EXPECT_EQ(g.state.transparencyMode, row.mode);
    EXPECT_EQ(g.state.unlitCellColor, row.unlit);
    EXPECT_EQ(g.state.constantAlpha, row.alpha);
  }
}

TEST(Transparency, ClicksPassThroughOnlyWhenClickThroughIsExactlyOne) {
  for (const auto& [clickThrough, on] : {std::pair{0, false}, {1, true}, {2, false}, {-1, false}}) {
    FakeWindow window;
    window.clickThrough = !on;
    DisplayState state;
    state.clickThrough = clickThrough;
    applyClickThrough(state, window);
    EXPECT_EQ(window.clickThrough, on) << clickThrough;
  }
}

// ---- Display-mode transitions -------------------------------------------------

enum class Trigger { WindowCommand, DesktopCommand, FullScreenCommand, DoubleClick, Esc };

void fire(Trigger trigger, Fixture& f, bool splashActive) {
  switch (trigger) {
    case Trigger::WindowCommand:
      enterWindowMode(f.state, f.window, splashActive, ClientSize, f.clock);
      break;
    case Trigger::DesktopCommand: enterDesktopMode(f.state, f.window, splashActive); break;
    case Trigger::FullScreenCommand: enterFullScreenMode(f.state, f.window, splashActive); break;
    case Trigger::DoubleClick:
      onWindowDoubleClick(f.state, f.window, splashActive, ClientSize, f.clock);
      break;
    case Trigger::Esc: onEscapeKey(f.state, f.window, splashActive, ClientSize, f.clock); break;
  }
}

// A fixture in `mode` as the handlers would have left it: in Window mode the window sits
// at (300, 400) and lets clicks through; Window mode was last left at (120, 80) with
// click-through off.
Fixture inMode(DisplayMode mode) {
  Fixture f;
  f.state.transparencyMode = Alpha40;
  f.state.savedX = 120;
  f.state.savedY = 80;
  f.state.savedClickThrough = 0;
  f.state.displayMode = mode;
  switch (mode) {
    case DisplayMode::Window:
      f.state.clickThrough = 1;
      f.state.constantAlpha = 140;
      f.window.rect = Rect{300, 400, 743, 547};
      f.window.clickThrough = true;
      break;
    case DisplayMode::FullScreen:
      f.state.clickThrough = 0;
      f.window.rect = Rect{0, 0, 1920, 1080};
      f.window.clickThrough = false;
      break;
    case DisplayMode::Desktop:
      f.state.clickThrough = 1;
      f.state.unlitCellColor = UnlitCellBlack;
      f.window.rect = Rect{0, 900, 1920, 1000};
      f.window.clickThrough = true;
      break;
  }
  return f;
}

struct TransitionRow {
  DisplayMode from;
  Trigger trigger;
  DisplayMode to;
  Calls calls;
};

TEST(DisplayModes, TransitionTable) {
  using M = DisplayMode;
  using T = Trigger;
  const Calls toFullScreen{"stacking Above", "clickThrough off"};
  const Calls toDesktop{"stacking Below", "clickThrough on"};
  const Calls toWindow{"stacking Normal", "clickThrough off", "sleep 10",
                       "move 120 80 443 145 repaint"};
  const TransitionRow rows[] = {
      {M::Window, T::WindowCommand, M::Window, {}},
      {M::Window, T::DesktopCommand, M::Desktop, toDesktop},
      {M::Window, T::FullScreenCommand, M::FullScreen, toFullScreen},
      {M::Window, T::DoubleClick, M::FullScreen, toFullScreen},
      {M::Window, T::Esc, M::Window, {}},
      {M::FullScreen, T::WindowCommand, M::Window, toWindow},
      {M::FullScreen, T::DesktopCommand, M::Desktop, toDesktop},
      {M::FullScreen, T::FullScreenCommand, M::FullScreen, {}},
      {M::FullScreen, T::DoubleClick, M::Window, toWindow},
      {M::FullScreen, T::Esc, M::Window, toWindow},
      {M::Desktop, T::WindowCommand, M::Window, toWindow},
      {M::Desktop, T::DesktopCommand, M::Desktop, {}},
      {M::Desktop, T::FullScreenCommand, M::FullScreen, toFullScreen},
      {M::Desktop, T::DoubleClick, M::Desktop, {}},
      {M::Desktop, T::Esc, M::Desktop, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "from " << int(row.from) << " trigger " << int(row.trigger));
    Fixture f = inMode(row.from);
    const DisplayState before = f.state;
    fire(row.trigger, f, false);
    EXPECT_EQ(f.state.displayMode, row.to);
    EXPECT_EQ(f.window.calls, row.calls);
    if (row.calls.empty()) {
      EXPECT_EQ(f.state, before);
      continue;
    }
    switch (row.to) {
      case M::FullScreen:
        EXPECT_EQ(f.state.clickThrough, 0);
        EXPECT_EQ(f.state.unlitCellColor, UnlitCellGrey);
        EXPECT_EQ(f.state.constantAlpha, 255);
        break;
      case M::Desktop:
        EXPECT_EQ(f.state.clickThrough, 1);
        EXPECT_EQ(f.state.unlitCellColor, UnlitCellBlack);
        EXPECT_EQ(f.state.constantAlpha, 255);
        break;
      case M::Window:
        EXPECT_EQ(f.state.clickThrough, 0);          // from savedClickThrough
        EXPECT_EQ(f.state.unlitCellColor, UnlitCellGrey);
        EXPECT_EQ(f.state.constantAlpha, 140);       // Alpha40 again
        break;
    }
    EXPECT_EQ(f.state.transparencyMode, Alpha40);
    if (row.from == M::Window) {
      // Leaving Window mode remembers where it was and its click-through.
      EXPECT_EQ(f.state.savedX, 300);
      EXPECT_EQ(f.state.savedY, 400);
      EXPECT_EQ(f.state.savedClickThrough, 1);
    } else {
      EXPECT_EQ(f.state.savedX, 120);
      EXPECT_EQ(f.state.savedY, 80);
      EXPECT_EQ(f.state.savedClickThrough, 0);
    }
  }
}

TEST(DisplayModes, ReturningToWindowRestacksFromTopMost) {
  Fixture f = inMode(DisplayMode::Desktop);
  f.state.topMost = 1;
  enterWindowMode(f.state, f.window, false, ClientSize, f.clock);
  ASSERT_FALSE(f.window.calls.empty());
  EXPECT_EQ(f.window.calls.front(), "stacking Above");
  EXPECT_EQ(f.window.stacking, Stacking::Above);
}

TEST(DisplayModes, RoundTripThroughFullScreenAndDesktopRestoresWindowPlacement) {
  Fixture f;
  f.state.clickThrough = 0;  // a clickable window
  f.window.rect = Rect{640, 360, 1083, 507};
  enterFullScreenMode(f.state, f.window, false);
  f.window.rect = Rect{0, 0, 1920, 1080};  // where the presentation put it
  enterDesktopMode(f.state, f.window, false);
  EXPECT_EQ(f.state.clickThrough, 1);
  EXPECT_TRUE(f.window.clickThrough);
  f.window.rect = Rect{0, 950, 1920, 1040};
  enterWindowMode(f.state, f.window, false, ClientSize, f.clock);

  EXPECT_EQ(f.state.displayMode, DisplayMode::Window);
  EXPECT_EQ(f.window.rect, (Rect{640, 360, 1083, 505}));
  EXPECT_EQ(f.state.clickThrough, 0);
  EXPECT_FALSE(f.window.clickThrough);  // clickable again
}

TEST(DisplayModes, MinimalChosenOutsideWindowModeAppliesAtOnceAndStays) {
  for (DisplayMode mode : {DisplayMode::FullScreen, DisplayMode::Desktop}) {
    Fixture f = inMode(mode);
    const bool clickThroughBefore = f.window.clickThrough;
    selectTransparencyMode(f.state, f.window, false, Minimal);
    EXPECT_EQ(f.state.transparencyMode, Minimal);
    EXPECT_EQ(f.state.unlitCellColor, UnlitCellBlack);
    EXPECT_EQ(f.state.constantAlpha, 255);
    EXPECT_EQ(f.window.clickThrough, clickThroughBefore);  // click-through of the mode untouched
    enterWindowMode(f.state, f.window, false, ClientSize, f.clock);
    EXPECT_EQ(f.state.transparencyMode, Minimal);
    EXPECT_EQ(f.state.unlitCellColor, UnlitCellBlack);
  }
}

// ---- The splash -----------------------------------------------------------------

TEST(Splash, ModeTransparencyAndDoubleClickAreIgnoredWhileItShows) {
  const std::function<void(Fixture&)> ignored[] = {
      [](Fixture& f) { enterWindowMode(f.state, f.window, true, ClientSize, f.clock); },
      [](Fixture& f) { enterDesktopMode(f.state, f.window, true); },
      [](Fixture& f) { enterFullScreenMode(f.state, f.window, true); },
      [](Fixture& f) { onWindowDoubleClick(f.state, f.window, true, ClientSize, f.clock); },
      [](Fixture& f) { onEscapeKey(f.state, f.window, true, ClientSize, f.clock); },
      [](Fixture& f) { selectTransparencyMode(f.state, f.window, true, Alpha80); },
      [](Fixture& f) { selectTransparencyMode(f.state, f.window, true, Minimal); },
  };
  for (DisplayMode mode : {DisplayMode::Window, DisplayMode::FullScreen}) {
    for (const auto& action : ignored) {
      Fixture f = inMode(mode);
      const DisplayState before = f.state;
      action(f);
      EXPECT_EQ(f.state, before);
      EXPECT_TRUE(f.window.calls.empty());
    }
  }
}

TEST(Splash, StyleTopMostClickThroughAndDragStillWork) {
  // These handlers have no splash argument at all; this pins that they act while the
  // splash shows, by running them with the same fixture the ignored ones use.
  Fixture f = inMode(DisplayMode::Window);
  selectSpectrumStyle(f.state, Waveform);
  toggleTopMost(f.state, f.window);
  toggleClickThrough(f.state, f.window);
  beginWindowDrag(f.state, f.window);
  EXPECT_EQ(f.state.spectrumStyle, Waveform);
  EXPECT_EQ(f.state.topMost, 1);
  EXPECT_EQ(f.state.clickThrough, 0);
  EXPECT_EQ(f.window.calls,
            (Calls{"stacking Above", "clickThrough off", "system move"}));
}

// ---- Stacking, click-through, drag ----------------------------------------------

TEST(WindowCommands, TogglingTopMostTwiceReturnsToTheStart) {
  for (int32_t start : {0, 1}) {
    Fixture f;
    f.state.topMost = start;
    toggleTopMost(f.state, f.window);
    EXPECT_EQ(f.state.topMost, 1 - start);
    toggleTopMost(f.state, f.window);
    EXPECT_EQ(f.state.topMost, start);
    const Calls expected = start == 0 ? Calls{"stacking Above", "stacking Normal"}
                                      : Calls{"stacking Normal", "stacking Above"};
    EXPECT_EQ(f.window.calls, expected);
  }
}

TEST(WindowCommands, ClickThroughToggleReappliesTheTransparencyMode) {
  Fixture f;
  f.state.transparencyMode = Alpha60;
  toggleClickThrough(f.state, f.window);
  EXPECT_EQ(f.state.clickThrough, 1);
  EXPECT_EQ(f.state.constantAlpha, 100);
  toggleClickThrough(f.state, f.window);
  EXPECT_EQ(f.state.clickThrough, 0);
  EXPECT_EQ(f.window.calls, (Calls{"clickThrough on", "clickThrough off"}));
}

TEST(WindowCommands, DragStartsTheMoveLoopOnlyInWindowMode) {
  const std::pair<DisplayMode, Calls> rows[] = {
      {DisplayMode::Window, {"system move"}},
      {DisplayMode::FullScreen, {}},
      {DisplayMode::Desktop, {}},
  };
  for (const auto& [mode, calls] : rows) {
    Fixture f = inMode(mode);
    beginWindowDrag(f.state, f.window);
    EXPECT_EQ(f.window.calls, calls) << int(mode);
  }
}

TEST(WindowCommands, APressArmsTheDragAndMovingPastTheThresholdStartsIt) {
  struct Step {
    enum { Press, Move, Release } kind;
    Point at;
    bool button;
  };
  struct Row {
    const char* what;
    DisplayMode mode;
    std::vector<Step> steps;
    Calls calls;
  };
  const Row rows[] = {
      {"a click stays a click", DisplayMode::Window, {{Step::Press, {10, 10}, true}, {Step::Release, {10, 10}, false}}, {}},
      {"small jitter", DisplayMode::Window, {{Step::Press, {10, 10}, true}, {Step::Move, {13, 7}, true}}, {}},
      {"a drag to the right", DisplayMode::Window, {{Step::Press, {10, 10}, true}, {Step::Move, {14, 10}, true}},
       {"move 304 400 443 147 repaint", "system move"}},
      {"a drag upwards", DisplayMode::Window, {{Step::Press, {10, 10}, true}, {Step::Move, {10, 6}, true}},
       {"move 300 396 443 147 repaint", "system move"}},
      {"once per press", DisplayMode::Window,
       {{Step::Press, {10, 10}, true}, {Step::Move, {20, 10}, true}, {Step::Move, {40, 10}, true}},
       {"move 310 400 443 147 repaint", "system move"}},
      {"button let go elsewhere", DisplayMode::Window, {{Step::Press, {10, 10}, true}, {Step::Move, {40, 10}, false}}, {}},
      {"moving after a release", DisplayMode::Window,
       {{Step::Press, {10, 10}, true}, {Step::Release, {10, 10}, false}, {Step::Move, {40, 10}, true}}, {}},
      {"full screen", DisplayMode::FullScreen, {{Step::Press, {10, 10}, true}, {Step::Move, {40, 10}, true}}, {}},
      {"desktop", DisplayMode::Desktop, {{Step::Press, {10, 10}, true}, {Step::Move, {40, 10}, true}}, {}},
  };
  for (const Row& row : rows) {
    Fixture f = inMode(row.mode);
    WindowDrag drag;
    for (const Step& step : row.steps) {
      if (step.kind == Step::Press) pressOnWindow(drag, f.state, step.at);
      if (step.kind == Step::Move) moveOverWindow(drag, f.state, f.window, step.at, step.button);
      if (step.kind == Step::Release) releaseOnWindow(drag);
    }
    EXPECT_EQ(f.window.calls, row.calls) << row.what;
  }
}

// ---- Settings glue ---------------------------------------------------------------

TEST(WindowCommands, LoadedSettingsAreAppliedInOrder) {
  Fixture f;
  f.state.savedX = -20;
  f.state.savedY = 700;
  f.state.topMost = 1;
  f.state.clickThrough = 1;
  f.state.transparencyMode = NoBackground;
  applyLoadedSettings(f.state, f.window, ClientSize);
  EXPECT_EQ(f.window.calls, (Calls{"clickThrough on", "move -20 700 443 145 repaint",
                                   "stacking Above"}));
  EXPECT_EQ(f.state.unlitCellColor, UnlitCellBlack);

  Fixture g;
  applyLoadedSettings(g.state, g.window, ClientSize);
  EXPECT_EQ(g.window.calls.back(), "stacking Normal");
}

TEST(WindowCommands, PositionToSaveIsLiveOnlyInWindowMode) {
  Fixture f = inMode(DisplayMode::Window);
  rememberWindowPosition(f.state, f.window);
  EXPECT_EQ(f.state.savedX, 300);
  EXPECT_EQ(f.state.savedY, 400);

  for (DisplayMode mode : {DisplayMode::FullScreen, DisplayMode::Desktop}) {
    Fixture g = inMode(mode);
    rememberWindowPosition(g.state, g.window);
    EXPECT_EQ(g.state.savedX, 120);
    EXPECT_EQ(g.state.savedY, 80);
  }
}

}  // namespace
}  // namespace tonalis
