// The application's lifecycle with fake ports: start-up order, the splash period, the
// key filter, the frame timer's measurement, the exit order, the capture-failure path,
// and frames that allocate nothing. The application is driven only through its ports and
// its events; its parts (frames, worker, display state) are read, never written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "app/command_ids.h"
#include "app/settings_file.h"
#include "app/tonalis.h"
#include "fakes/allocation_counter.h"
#include "fakes/fake_app_ports.h"
#include "fakes/fake_hid_host.h"
#include "fakes/fake_sound_input.h"
#include "fakes/fake_window.h"

// Allocation counting for the frame path: only the test's own thread, only while armed.
using tonalis::fakes::allocations;
using tonalis::fakes::countAllocations;

namespace tonalis {
namespace {

using fakes::CallLog;

// The fake window, with its calls in the shared log so they order against the other ports.
class LoggedWindow : public FakeWindow {
 public:
  explicit LoggedWindow(CallLog& log) : log_(log) {}
  void setStacking(Stacking z) override { log_.add(std::string("window.stacking ") + stackingName(z)); FakeWindow::setStacking(z); }
  void setClickThrough(bool on) override { log_.add(std::string("window.clickThrough ") + (on ? "on" : "off")); FakeWindow::setClickThrough(on); }
  void setTaskbarButton(bool on) override { log_.add(std::string("window.taskbarButton ") + (on ? "on" : "off")); FakeWindow::setTaskbarButton(on); }
  void move(int32_t x, int32_t y, int32_t w, int32_t h, bool r) override {
    log_.add("window.move " + std::to_string(x) + " " + std::to_string(y));
    FakeWindow::move(x, y, w, h, r);
  }
  void hide() override { log_.add("window.hide"); FakeWindow::hide(); }
  void show() override { log_.add("window.show"); FakeWindow::show(); }

 private:
  CallLog& log_;
};


// A sound input whose wait for a packet can hang, as a driver call sometimes does.
class HangingSound : public fakes::FakeSoundInput {
 public:
  using FakeSoundInput::FakeSoundInput;
  std::atomic<bool> hang{false}, letGo{false}, stuck{false};
  SoundResult waitPacket(uint32_t timeoutMillis) override {
    if (hang) {
      stuck = true;
      while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return FakeSoundInput::waitPacket(timeoutMillis);
  }
};

struct MainWindow : ::testing::Test {
  CallLog log;
  fakes::FakeAppHost host{log};
  LoggedWindow window{log};
  fakes::FakePresenter presenter{log};
  fakes::FakeTray tray{log};
  HangingSound sound{log};
  FakeHidHost hid;
  fakes::FakeClock clock{log};
  fakes::FakeShell shell{log};
  fakes::FakeBitmapSource bitmaps;
  fakes::FakeFileStore files{log};
  fakes::FakeInstanceGuard instance{log};
  std::filesystem::path oldDir = std::filesystem::current_path();
  std::filesystem::path dir;

  MainWindow() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // a parameterised test's name has one
    dir = std::filesystem::temp_directory_path() /
          ("tonalis-app-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + name);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    bitmaps.add(SplashBitmap, 443, 145, 0x336699);
    tray.host = &host;
    // Each fake 50 ms of the splash takes 2 real ms, so the window's thread sees the splash
    // frame well before the period ends, however the threads are scheduled.
    clock.realSleepMicros = 2000;
  }
  ~MainWindow() override {
    std::filesystem::current_path(oldDir);
    std::filesystem::remove_all(dir);
  }
  AppPorts ports() { return {host, window, presenter, tray, sound, hid, clock, shell, bitmaps, files, instance}; }

  // Runs the host's loop until `done` holds (or a real-time bound passes), feeding the
  // application the events its worker posts. The first call starts the application.
  void runUntil(Tonalis& app, const std::function<bool()>& done, std::chrono::seconds bound = std::chrono::seconds(10)) {
    if (!started) {
      startedOk = app.start();
      // As the hosts' run does: the window is shown once the start is over.
      if (startedOk && !host.quitAsked) window.visible = true;
    }
    started = true;
    const auto until = std::chrono::steady_clock::now() + bound;
    host.idle = [&] {
      if (done() || std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      return true;
    };
    host.pump();
  }
  // Delivers a close request and runs the exit; true when the application ended the loop.
  bool closeWith(const Event& request) {
    host.queue.push_back(request);
    host.idle = nullptr;
    host.pump();
    return host.quitAsked;
  }
  // The display settings as the user changes them: through the menu's commands.
  // Starts `app` on monitors where (3000, 300) lies on the second one, moves the window there
  // and enters full screen: the strip covers that monitor.
  void fullScreenOnTheSecondMonitor(Tonalis& app) {
    runUntil(app, [&] { return host.timers.count(1) != 0; });
    window.move(3000, 300, 443, 145, false);
    enter(DisplayMode::FullScreen);
    const std::vector<Monitor> monitors = host.monitors();
    ASSERT_EQ(monitors.size(), 2u);
    ASSERT_EQ(app.frames().monitor(), monitors[1].area);
  }
  void enter(DisplayMode mode) {
    host.deliver(Command{mode == DisplayMode::Window      ? CmdWindowMode
                         : mode == DisplayMode::Desktop   ? CmdDesktopMode
                                                          : CmdFullScreenMode});
  }
  void chooseTransparency(int32_t mode) {
    host.deliver(Command{commandForValue(TransparencyCommands, FirstTransparencyMode, mode)});
  }
  void chooseStyle(int32_t style) {
    host.deliver(Command{commandForValue(SpectrumStyleCommands, FirstSpectrumStyle, style)});
  }
  bool startedOk = false;
  bool started = false;
  // A frame (which brings the tip up to date), then whether the tip reads `text`.
  std::function<bool()> tipIs(std::string text) {
    return [this, text] {
      if (host.timers.count(1) == 0) return false;
      host.deliver(TimerTick{1});
      return tray.tip == text;
    };
  }
};

TEST_F(MainWindow, StartsInOrderAndEndsTheSplashByItself) {
  Tonalis app(ports());
  // Stop the loop as soon as the splash period is over and the frame timer runs.
  runUntil(app, [&] { return host.timers.count(Tonalis::FrameTimerId) != 0; });
  ASSERT_EQ(host.timers.count(1), 1u) << "the frame timer never started";
  EXPECT_EQ(host.timers[1], 28u);

  const std::vector<std::string> order = {
      "host.icon", "window.hide", "window.taskbarButton off",
      "tray.add 133 Tonalis",   "sound.open",       "window.move 50 50",
      "presenter.create 443x145",    "presenter.create 1920x1080",
      "presenter.present",           "host.setTimer 1 28",
  };
  int last = -1;
  for (const std::string& step : order) {
    const int at = log.indexOf(step);
    EXPECT_GT(at, last) << step << " out of order";
    last = std::max(last, at);
  }
  // The splash: 50 ms, the splash frame, then 80 waits of 50 ms (about 4.05 s).
  EXPECT_EQ(log.count("clock.sleep 50"), 81);
  EXPECT_FALSE(app.worker().splashActive());
  EXPECT_TRUE(app.worker().running());
  // The splash frame presented the splash image, unfaded, in the window's place.
  ASSERT_FALSE(presenter.presentations.empty());
  const auto& splash = presenter.presentations.front();
  EXPECT_EQ(splash.size, (Point{443, 145}));
  EXPECT_EQ(splash.alpha, 255);
  EXPECT_FALSE(splash.destination.has_value());

  closeWith(CloseRequest{});
}

TEST_F(MainWindow, ExitRunsInOrderAndSavesBeforeThePause) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  log.clear();
  EXPECT_TRUE(closeWith(Command{CmdExit}));

  const std::vector<std::string> order = {
      "tray.remove", "files.replace tonalis.ini", "clock.sleep 1200", "host.killTimer 1",
      "presenter.release 1920x1080", "presenter.release 443x145", "host.quit",
  };
  int last = -1;
  for (const std::string& step : order) {
    const int at = log.indexOf(step);
    EXPECT_GT(at, last) << step << " out of order";
    last = std::max(last, at);
  }
  EXPECT_FALSE(tray.present);
  EXPECT_EQ(presenter.liveBuffers(), 0);
  // The worker closed its stream on the way out, before the loop ended.
  EXPECT_LT(log.indexOf("sound.close"), log.indexOf("host.quit"));
  EXPECT_FALSE(sound.isOpen());
  EXPECT_FALSE(sound.misuse());
  EXPECT_FALSE(app.worker().joinable());
}

TEST_F(MainWindow, CloseDuringTheSplashEndsTheWaitAtOnce) {
  Tonalis app(ports());
  // Close as soon as the splash frame is up.
  runUntil(app, [&] { return !presenter.presentations.empty(); });
  const int waitsBefore = log.count("clock.sleep 50");
  EXPECT_TRUE(closeWith(CloseRequest{}));
  // At most one more 50 ms step after `running` was cleared; no frame timer, no capture.
  EXPECT_LE(log.count("clock.sleep 50") - waitsBefore, 2);
  EXPECT_EQ(log.count("host.setTimer 1 "), 0);
  EXPECT_EQ(log.count("sound.start"), 0);
  EXPECT_EQ(log.count("tray.remove"), 1);
}

TEST_F(MainWindow, NoSoundCardShowsTheMessageAndLeavesNoTrayIcon) {
  sound.setPresent("mic", false);
  Tonalis app(ports());
  EXPECT_FALSE(app.start());
  EXPECT_EQ(shell.messages, std::vector<std::string>{"电脑没有声卡"});
  EXPECT_LT(log.indexOf("tray.add"), log.indexOf("tray.remove"));
  EXPECT_FALSE(tray.present);
  EXPECT_EQ(log.count("presenter.create"), 0);
  EXPECT_FALSE(app.worker().joinable());
  EXPECT_EQ(log.count("files.replace"), 0);
}

// The whole run: the window only for the copy that runs; a start that cannot record ends
// before the loop, and the host is asked to quit before it runs (it closes the window it
// never showed).
TEST_F(MainWindow, ARunThatCannotRecordEndsWithoutShowingTheWindow) {
  sound.setPresent("mic", false);
  Tonalis app(ports());
  EXPECT_EQ(app.run(), 0);
  const std::vector<std::string> order = {"instance.claim", "host.window", "shell.message 电脑没有声卡",
                                          "host.quit", "host.run"};
  int last = -1;
  for (const std::string& step : order) {
    const int at = log.indexOf(step);
    EXPECT_GT(at, last) << step << " out of order";
    last = std::max(last, at);
  }
  EXPECT_FALSE(host.running || window.visible);
  EXPECT_FALSE(tray.present);
}

// The source a settings file names decides whether a missing recording device ends the
// start: only the default input does.
TEST_F(MainWindow, WhatIsPlayingChosenRunsWithoutARecordingDevice) {
  sound.setPresent("mic", false);
  sound.add(fakes::FakeEndpoint{"spk", "Speakers", false});
  sound.defaultOutput = "spk";
  files.files["tonalis.ini"] =
      "xpos 50\r\nypos 50\r\ntop 0\r\nmode 1\r\nmouse 0\r\ntransparent 0\r\ncolor 1\r\nfullpos 0\r\n"
         "\r\nc1\r\nc2\r\nsource 1\r\n";
  Tonalis app(ports());
  runUntil(app, tipIs("Tonalis — 正在播放的声音"));
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(tray.tip, "Tonalis — 正在播放的声音");
  EXPECT_EQ(sound.openId(), "spk");
  closeWith(CloseRequest{});
}

// Choosing from the menu: the devices listed at that opening, the choice in the tip and in
// the file written at exit.
TEST_F(MainWindow, SourceMenuChoosesAndTheChoiceIsSaved) {
  sound.add(fakes::FakeEndpoint{"usb", "USB Headset"});
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  host.deliver(TrayMenuRequest{});
  ASSERT_EQ(tray.menus.size(), 1u);
  const MenuItem& sources = tray.menus.back()[14];
  ASSERT_EQ(sources.label, "声音来源");
  ASSERT_EQ(sources.children.size(), 5u);
  EXPECT_EQ(sources.children[4].label, "USB Headset");

  host.deliver(Command{CmdSourceFirstDevice + 1});
  runUntil(app, tipIs("Tonalis — USB Headset"));
  EXPECT_EQ(sound.openId(), "usb");
  host.deliver(Command{CmdSourceFirstDevice + 7});  // no such item: nothing changes
  EXPECT_EQ(app.worker().capture().chosen(), (SoundSource{SourceKind::Device, "usb"}));

  // Unplugged: the default input stands in and the tip says so; plugged in again, back to it.
  sound.setPresent("usb", false);
  runUntil(app, tipIs("Tonalis — USB Headset（未连接）"));
  EXPECT_EQ(sound.openId(), "mic");
  sound.setPresent("usb", true);
  runUntil(app, tipIs("Tonalis — USB Headset"));
  EXPECT_EQ(tray.tip, "Tonalis — USB Headset");

  closeWith(CloseRequest{});
  const std::string text = files.files["tonalis.ini"];
  EXPECT_TRUE(text.ends_with("\r\nsource 2 usb\r\n")) << text;
}

TEST_F(MainWindow, EnterAndEscapeNeverCloseAndEscapeLeavesFullScreen) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });

  struct Case {
    DisplayMode mode;
    Key key;
    DisplayMode after;
  };
  const Case cases[] = {
      {DisplayMode::Window, Key::Enter, DisplayMode::Window},
      {DisplayMode::Window, Key::Escape, DisplayMode::Window},
      {DisplayMode::Desktop, Key::Escape, DisplayMode::Desktop},
      {DisplayMode::FullScreen, Key::Enter, DisplayMode::FullScreen},
      {DisplayMode::FullScreen, Key::Escape, DisplayMode::Window},
  };
  for (const Case& c : cases) {
    enter(c.mode);
    host.quitAsked = false;
    host.deliver(KeyPress{c.key});
    EXPECT_FALSE(host.quitAsked) << "key " << int(c.key) << " ended the program";
    EXPECT_EQ(app.display().displayMode, c.after) << "key " << int(c.key);
  }
  // Any other key is the system's (its keyboard handling of the window).
  EXPECT_FALSE(host.deliver(KeyPress{Key::Other}));
  closeWith(CloseRequest{});
}

TEST_F(MainWindow, TheAboutCommandShowsTheAboutBoxWhileTheProgramRuns) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  // From the tray menu, or from the Windows system menu (its backend delivers the same command).
  EXPECT_TRUE(host.deliver(Command{CmdAbout}));
  EXPECT_EQ(host.aboutShown, std::vector<std::string>{"Tonalis"});
  EXPECT_FALSE(host.quitAsked);
  EXPECT_EQ(host.timers.count(1), 1u) << "the spectrum goes on behind it";
  closeWith(CloseRequest{});
  host.deliver(Command{CmdAbout});
  EXPECT_EQ(host.aboutShown.size(), 1u) << "no About box once the exit has begun";
}

TEST_F(MainWindow, AShortWideScreenShowsTheWholeStripInAScreenSizedFrame) {
  host.screen = {5120, 1080};  // the width asks for a strip 1242 rows tall
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  EXPECT_EQ(app.frames().screenSize().y, 1080);
  EXPECT_EQ(app.frames().screenBuffer().height, 1080);
  EXPECT_EQ(app.frames().layout().stripTop + app.frames().layout().stripHeight, 1080);
  presenter.keepPixels = true;
  enter(DisplayMode::FullScreen);
  ASSERT_EQ(app.display().unlitCellColor, UnlitCellGrey);
  presenter.presentations.clear();
  app.runFrame();
  ASSERT_EQ(presenter.presentations.size(), 1u);
  const auto& frame = presenter.presentations[0];
  EXPECT_EQ(frame.size, (Point{5120, 1080}));
  // The floor row (row 17) is drawn inside the frame, in the first band's column.
  const LayoutMetrics& m = app.frames().layout();
  const int32_t x = m.stripMarginX + m.bandGap + m.bandWidth / 2;
  const int32_t floorY = m.stripTop + m.cellGap + 17 * (m.cellGap + m.cellHeight) + m.cellHeight / 2;
  ASSERT_LT(floorY, 1080);
  EXPECT_NE(frame.pixels[size_t(floorY) * 5120 + size_t(x)], 0u) << "floor row missing";
  enter(DisplayMode::Window);
  closeWith(CloseRequest{});
}

TEST_F(MainWindow, EachModeShowsItsSurfaceAndSendsOnlyWhatChanged) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  const auto& first = presenter.presentations.front();  // the splash: all of it is new
  EXPECT_EQ(first.surface, Surface::PaintedAlpha);
  EXPECT_EQ(first.changedBounds, (Rect{0, 0, 443, 145}));

  struct Case {
    DisplayMode mode;
    int32_t transparency;
    uint8_t alpha;
    Surface surface;
    std::optional<Point> destination;
  };
  const int32_t stripTop = app.frames().layout().stripTop;
  const Case cases[] = {
      {DisplayMode::Window, Opaque, 255, Surface::PaintedAlpha, std::nullopt},
      {DisplayMode::Window, Alpha40, 140, Surface::LayeredAlpha, std::nullopt},  // faded: layered updates
      {DisplayMode::Window, NoBackground, 255, Surface::PaintedColorKey, std::nullopt},
      {DisplayMode::FullScreen, Opaque, 255, Surface::Opaque, Point{0, 0}},
      {DisplayMode::Desktop, Opaque, 255, Surface::PaintedColorKey, Point{0, stripTop}},
  };
  for (const Case& c : cases) {
    chooseTransparency(c.transparency);
    enter(c.mode);
    ASSERT_EQ(app.display().constantAlpha, c.alpha);
    // A long silence: the bars have fallen and the activity indicator rests.
    for (int i = 0; i < 1100; ++i) app.runFrame();
    presenter.presentations.clear();
    app.runFrame();
    ASSERT_EQ(presenter.presentations.size(), 1u);
    const auto& p = presenter.presentations[0];
    EXPECT_EQ(p.surface, c.surface) << "mode " << int(c.mode);
    EXPECT_EQ(p.destination, c.destination) << "mode " << int(c.mode);
    EXPECT_EQ(p.changedCount, 0u) << "mode " << int(c.mode) << ": the same picture again";
  }

  // The system's erase and paint requests are answered from the last frame shown.
  presenter.painted = true;
  EXPECT_TRUE(app.dispatch(EraseBackground{}));
  EXPECT_TRUE(app.dispatch(PaintRequest{}));
  EXPECT_EQ(log.count("presenter.repaint"), 1);
  presenter.painted = false;  // layered updates keep the picture: default processing
  EXPECT_FALSE(app.dispatch(EraseBackground{}));
  EXPECT_FALSE(app.dispatch(PaintRequest{}));

  enter(DisplayMode::Window);
  closeWith(CloseRequest{});
}

TEST_F(MainWindow, FramesAllocateNothing) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  clock.logSleeps = false;
  presenter.logPresents = false;
  for (DisplayMode mode : {DisplayMode::Window, DisplayMode::FullScreen, DisplayMode::Desktop}) {
    enter(mode);
    for (int style = 1; style <= 6; ++style) {
      chooseStyle(style);
      host.deliver(TimerTick{1});  // warm up (the fake presenter keeps a record)
      presenter.presentations.clear();
      presenter.presentations.reserve(200);
      allocations = 0;
      countAllocations = true;
      for (int i = 0; i < 50; ++i) app.runFrame();
      countAllocations = false;
      EXPECT_EQ(allocations, 0) << "mode " << int(mode) << " style " << style;
    }
  }
  enter(DisplayMode::Window);
  closeWith(CloseRequest{});
}

// ---- What nobody sees costs nothing ---------------------------------------------

// The worker stands still in a wait and the test writes the ring in its place; frames come
// from the timer, the clock moving a period between them.
struct QuietWindow : MainWindow {
  void holdWorker(Tonalis& app) {
    runUntil(app, [&] { return host.timers.count(1) != 0; });
    clock.logSleeps = false;
    clock.advanceOnSleep = false;
    sound.hang = true;
    while (!sound.stuck) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void fillRing(Tonalis& app, float amplitude) {
    std::array<float, BlockSamples> block;
    for (int k = 0; k < BlockSamples; ++k) block[size_t(k)] = amplitude * std::sin(float(k) * 0.3f);
    for (int b = 0; b < RingSlotCount; ++b) app.worker().capture().ring.write(block);
  }
  void tick() {
    clock.tick += host.timers.count(1) ? host.timers[1] : Tonalis::FramePeriodMillis;
    host.deliver(TimerTick{1});
  }
  void release() {
    sound.letGo = true;
    enter(DisplayMode::Window);
    closeWith(CloseRequest{});
  }
};

TEST_F(QuietWindow, NothingIsDrawnOrPresentedWhileNobodyCanSeeItButTheBoardFollows) {
  struct Case {
    const char* name;
    std::function<void(Tonalis&, bool)> unseen;
  };
  const Case cases[] = {
      {"hidden", [this](Tonalis&, bool on) { window.visible = !on; }},
      {"minimised", [this](Tonalis&, bool on) { host.minimized = on; }},
      {"session locked", [](Tonalis& app, bool on) { app.dispatch(SessionLock{on}); }},
  };
  Tonalis app(ports());
  holdWorker(app);
  for (DisplayMode mode : {DisplayMode::Window, DisplayMode::Desktop}) {
    enter(mode);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (mode == DisplayMode::Window ? " window" : " strip"));
      fillRing(app, 0.0f);
      for (int i = 0; i < 120; ++i) tick();  // the bars have fallen
      c.unseen(app, true);
      fillRing(app, 20000.0f);
      presenter.presentations.clear();
      for (int i = 0; i < 10; ++i) tick();
      EXPECT_TRUE(presenter.presentations.empty());
      const BoardLevels& board = app.frames().boardLevels();
      EXPECT_GT(*std::max_element(board.begin(), board.end()), 0) << "the board still gets the bars";
      EXPECT_EQ(host.timers[1], Tonalis::FramePeriodMillis) << "sound keeps the full rate";
      // Seen again: the first frame shows all of the picture, which was not kept up.
      c.unseen(app, false);
      tick();
      ASSERT_EQ(presenter.presentations.size(), 1u);
      const Point size = presenter.presentations[0].size;
      const Rect changed = presenter.presentations[0].changedBounds;
      EXPECT_TRUE(changed.left <= 0 && changed.top <= 0 && changed.right >= size.x && changed.bottom >= size.y)
          << changed.left << "," << changed.top << "," << changed.right << "," << changed.bottom;
    }
  }
  release();
}

// A digital silence whose picture no longer changes slows the frame timer; the board's
// clock still comes after the same 30 s; the first sound brings the 28 ms timer back.
TEST_F(QuietWindow, ASettledSilenceSlowsTheTimerUntilSoundComes) {
  Tonalis app(ports());
  holdWorker(app);
  struct Case {
    DisplayMode mode;
    int32_t transparency;
    uint32_t settlesAfterMillis;  // at most
  };
  const Case cases[] = {
      {DisplayMode::Desktop, Opaque, 3000},  // bars and peaks down
      {DisplayMode::Window, Minimal, 3000},
      {DisplayMode::Window, Opaque, 30500},  // the activity indicator turns until the long silence
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode) * 10 + c.transparency);
    chooseTransparency(c.transparency);
    enter(c.mode);
    fillRing(app, 20000.0f);
    for (int i = 0; i < 200; ++i) tick();  // sound for the board's levels
    ASSERT_EQ(app.frames().boardClockMode(), 0);
    ASSERT_EQ(host.timers[1], Tonalis::FramePeriodMillis);
    fillRing(app, 0.0f);
    const uint32_t silenceFrom = clock.tick;
    // Once the bars are down, the timer wakes only for a frame that shows something new:
    // in the window, the activity indicator's next picture (six a second).
    size_t frames = 0, framesChangingNothing = 0;
    while (host.timers[1] != Tonalis::SettledFramePeriodMillis && clock.tick - silenceFrom < 40000) {
      const bool barsDown = clock.tick - silenceFrom >= 3000;
      presenter.presentations.clear();
      tick();
      if (!barsDown) continue;
      frames += presenter.presentations.size();
      for (const auto& p : presenter.presentations) framesChangingNothing += p.changedCount == 0;
    }
    EXPECT_LE(clock.tick - silenceFrom, c.settlesAfterMillis);
    EXPECT_EQ(framesChangingNothing, 0u);
    if (clock.tick - silenceFrom > 3000) {
      EXPECT_LE(frames, (clock.tick - silenceFrom - 3000) * 7 / 1000);
    }
    // The board's clock: after 1071 frames' time, counted at the slower rate too.
    while (app.frames().boardClockMode() == 0 && clock.tick - silenceFrom < 40000) tick();
    EXPECT_NEAR(double(clock.tick - silenceFrom), SilenceRunLimit * 28.0, 150.0);
    presenter.presentations.clear();
    for (int i = 0; i < 20; ++i) tick();
    for (const auto& p : presenter.presentations) EXPECT_EQ(p.changedCount, 0u);
    EXPECT_EQ(host.timers[1], Tonalis::SettledFramePeriodMillis);

    // What the worker calls on the first sound after a silence: the timer is back at once.
    fillRing(app, 20000.0f);
    app.worker().capture().soundAfterSilence();
    runUntil(app, [&] { return host.timers[1] == Tonalis::FramePeriodMillis; });
    EXPECT_EQ(host.timers[1], Tonalis::FramePeriodMillis);
    presenter.presentations.clear();
    tick();
    ASSERT_EQ(presenter.presentations.size(), 1u);
    EXPECT_GT(presenter.presentations[0].changedCount, 0u) << "the bars rise";
  }
  release();
}

// A program started in silence still measures its frame time before the timer slows: the
// window's readout shows it, not zeros.
TEST_F(QuietWindow, AStartInSilenceShowsTheFrameTime) {
  Tonalis app(ports());
  holdWorker(app);
  fillRing(app, 0.0f);
  for (int i = 0; i < 200 && host.timers[1] == Tonalis::FramePeriodMillis; ++i) tick();
  EXPECT_NE(host.timers[1], Tonalis::FramePeriodMillis) << "the timer slows in the silence";
  EXPECT_NEAR(double(app.frames().frameMillis()), double(Tonalis::FramePeriodMillis), 3.0);
  release();
}

// ---- Nothing lost, no hang -----------------------------------------------------

TEST_F(MainWindow, ExitDuringTheCannotRecordMessageLeavesTheFileAlone) {
  const std::string file = writeSettings(Settings{300, 200, 1, Dots, 1, Alpha40, Purple, Lower});
  files.files["tonalis.ini"] = file;
  sound.endpoint("mic").openResult = SoundResult::DeviceInUse;
  // The box's own message loop lets the tray menu's Exit through.
  shell.whileMessageShown = [&] { host.deliver(Command{CmdExit}); };
  Tonalis app(ports());
  EXPECT_FALSE(app.start());
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(log.count("files.replace"), 0);
  EXPECT_EQ(files.files["tonalis.ini"], file);
  EXPECT_FALSE(tray.present);
  EXPECT_FALSE(app.worker().joinable());
}

TEST_F(MainWindow, ChangesAreSavedAsTheyAreMadeAndAFailureIsToldOnce) {
  files.files["tonalis.ini"] = writeSettings(Settings{});
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(log.count("files.replace"), 0) << "nothing changed: nothing written";

  host.deliver(Command{CmdStyleBar});
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(log.count("files.replace"), 1);
  EXPECT_EQ(loadSettingsFile(files, {443, 145, 1920, 1080}).settings.spectrumStyle, Bar);

  // A read-only folder: the file keeps what it had, the user hears of it once.
  files.failReplace = true;
  const std::string before = files.files["tonalis.ini"];
  host.deliver(Command{CmdStyleDots});
  for (int i = 0; i < 3; ++i) host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(files.files["tonalis.ini"], before);
  ASSERT_EQ(tray.balloons.size(), 1u);
  EXPECT_EQ(tray.balloons[0].first, "设置未能保存");
  EXPECT_EQ(tray.balloons[0].second, files.folderName);
  closeWith(CloseRequest{});
  EXPECT_EQ(files.files["tonalis.ini"], before);
  EXPECT_EQ(tray.balloons.size(), 1u);
}

// "画面延迟" is kept in the file as a line of its own; "开机启动" shows and turns what the
// system holds, and a refusal is told.
TEST_F(MainWindow, TheDrawingDelayIsSavedAndStartingWithTheSessionFollowsTheSystem) {
  files.files["tonalis.ini"] = writeSettings(Settings{}, {}, 0);
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  host.deliver(Command{FrameDelayCommands[2]});
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(files.files["tonalis.ini"], writeSettings(Settings{}) + "delay 100\r\n");

  const auto checked = [&](uint32_t id) {
    host.deliver(TrayMenuRequest{});
    for (const MenuItem& item : tray.menus.back()) {
      if (item.id == id) return item.checked;
      for (const MenuItem& child : item.children) {
        if (child.id == id) return child.checked;
      }
    }
    ADD_FAILURE() << "no item " << id;
    return false;
  };
  EXPECT_TRUE(checked(FrameDelayCommands[2]));
  EXPECT_FALSE(checked(CmdStartWithSession));
  shell.startup = true;  // set elsewhere (the system's own settings)
  EXPECT_TRUE(checked(CmdStartWithSession));
  host.deliver(Command{CmdStartWithSession});
  EXPECT_FALSE(shell.startup);
  shell.startupFails = true;
  host.deliver(Command{CmdStartWithSession});
  EXPECT_FALSE(checked(CmdStartWithSession));
  ASSERT_EQ(tray.balloons.size(), 1u);
  EXPECT_EQ(tray.balloons[0].first, "开机启动未能设置");

  host.deliver(Command{FrameDelayCommands[0]});
  closeWith(CloseRequest{});
  EXPECT_EQ(files.files["tonalis.ini"], writeSettings(Settings{})) << "back to the eleven lines";
}

// A missing file is made at the first save; one that is there but cannot be read (held by
// another program, refused) may hold the user's settings, so this run never writes over it:
// not after a change, not at the end of the session, not at exit. The user hears of it once,
// with the file's path, as soon as there is an icon to tell it from.
struct SettingsAtStartCase {
  const char* name;
  bool unreadable;
  int refuseTrayAdds;
};

struct SettingsAtStart : MainWindow, ::testing::WithParamInterface<SettingsAtStartCase> {};

TEST_P(SettingsAtStart, AMissingFileIsMadeButOneThatCannotBeReadIsNeverReplaced) {
  const SettingsAtStartCase& c = GetParam();
  if (c.unreadable) files.unreadable.insert("tonalis.ini");
  tray.refuseAdds = c.refuseTrayAdds;
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  EXPECT_EQ(app.display().spectrumStyle, Block) << "the defaults";
  host.deliver(Command{CmdStyleBar});
  for (int i = 0; i < 3; ++i) host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  Event query = SessionQuery{false};
  app.dispatch(query);
  closeWith(CloseRequest{});

  if (!c.unreadable) {
    EXPECT_EQ(log.count("files.replace tonalis.ini"), 3) << "after the change, at the query, at exit";
    EXPECT_EQ(readSettings(files.files["tonalis.ini"], {443, 145, 1920, 1080}).settings.spectrumStyle, Bar);
    EXPECT_TRUE(tray.balloons.empty());
    return;
  }
  EXPECT_EQ(log.count("files.replace"), 0);
  EXPECT_EQ(files.files.count("tonalis.ini"), 0u);
  ASSERT_EQ(tray.balloons.size(), 1u);
  EXPECT_EQ(tray.balloons[0].first, "设置未能读取，本次不保存");
  EXPECT_EQ(tray.balloons[0].second, "C:\\Tonalis\\tonalis.ini");
}

INSTANTIATE_TEST_SUITE_P(MainWindow, SettingsAtStart,
                         ::testing::Values(SettingsAtStartCase{"Missing", false, 0},
                                           SettingsAtStartCase{"Unreadable", true, 0},
                                           SettingsAtStartCase{"UnreadableAndTheShellLate", true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, TheEndOfTheSessionSavesAndShutsDownQuickly) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  host.deliver(Command{CmdThemeAutumn});
  log.clear();
  Event query = SessionQuery{false};
  EXPECT_TRUE(app.dispatch(query));
  EXPECT_TRUE(std::get<SessionQuery>(query).agree);
  EXPECT_EQ(loadSettingsFile(files, {443, 145, 1920, 1080}).settings.colorTheme, Autumn);
  EXPECT_FALSE(host.quitAsked) << "the session may yet go on";
  host.deliver(SessionEnd{false});  // another program refused: the session goes on
  EXPECT_FALSE(host.quitAsked);

  host.deliver(SessionEnd{true});
  EXPECT_TRUE(host.quitAsked);
  EXPECT_FALSE(tray.present);
  EXPECT_EQ(log.count("clock.sleep 1200"), 0) << "no grace pause when the system is waiting";
  EXPECT_GT(log.indexOf("sound.close"), -1);
  EXPECT_EQ(presenter.liveBuffers(), 0);
  EXPECT_FALSE(app.worker().joinable());
  // The close that may follow does nothing more.
  const int calls = int(log.calls().size());
  app.dispatch(CloseRequest{});
  EXPECT_EQ(int(log.calls().size()), calls);
}

TEST_F(MainWindow, ExitIsBoundedWhenTheWorkerHangsInADeviceCall) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  host.deliver(Command{CmdStyleFloating});
  sound.hang = true;
  runUntil(app, [&] { return sound.stuck.load(); });
  ASSERT_TRUE(sound.stuck);
  const int closesBefore = log.count("sound.close");
  const uint32_t start = clock.tick;
  EXPECT_TRUE(closeWith(Command{CmdExit}));
  EXPECT_LE(clock.tick - start, 3000u) << "the exit took longer than 3 s";
  EXPECT_TRUE(app.workerAbandoned());
  EXPECT_FALSE(tray.present);
  EXPECT_EQ(loadSettingsFile(files, {443, 145, 1920, 1080}).settings.spectrumStyle, Floating);
  // The capture memory stays with the worker that may still write into it.
  EXPECT_EQ(log.count("sound.close"), closesBefore);
  EXPECT_FALSE(sound.misuse());

  sound.letGo = true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!app.worker().finished() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(app.worker().finished());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the detached thread returns
}

TEST_F(MainWindow, AFrameLappedByTheWorkerKeepsThePreviousLevels) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  clock.logSleeps = false;
  // The worker stands still in a wait, and the test writes the ring in its place.
  sound.hang = true;
  while (!sound.stuck) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // A copy lapped by the writer while the frame copies is refused.
  const std::array<float, BlockSamples> loud = [] {
    std::array<float, BlockSamples> block;
    block.fill(20000.0f);
    return block;
  }();
  app.worker().capture().ring.readerPaused = [&] {
    for (int b = 0; b < RingSlotCount; ++b) app.worker().capture().ring.write(loud);
  };
  app.frames().spectrum().bandLevels.fill(5.0f);
  app.runFrame();
  EXPECT_EQ(app.frames().spectrum().bandLevels[0], 5.0f) << "a torn copy was analysed";
  app.worker().capture().ring.readerPaused = nullptr;
  app.runFrame();
  EXPECT_NE(app.frames().spectrum().bandLevels[0], 5.0f) << "a whole copy is analysed";
  sound.letGo = true;
  closeWith(CloseRequest{});
}

// ---- The tray icon, the timers, the desktop strip -------------------------------

TEST_F(MainWindow, TheTrayIconAndTheTimersAreAskedForUntilTheSystemGivesThem) {
  tray.refuseAdds = 2;             // the shell is not up yet at logon
  host.refuseTimers = {1};         // and the system is short of timers for a moment
  Tonalis app(ports());
  runUntil(app, [&] { return log.count("host.setTimer 1 refused") > 0; });
  EXPECT_FALSE(tray.present);
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_FALSE(tray.present);
  host.refuseTimers.clear();
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_TRUE(tray.present);
  EXPECT_EQ(host.timers.count(1), 1u);
  EXPECT_EQ(log.count("tray.add 133"), 1);
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(log.count("tray.add"), 3) << "an icon in the tray is not added again";

  // A restarted shell has forgotten it.
  tray.present = false;
  host.deliver(ShellRestarted{});
  EXPECT_TRUE(tray.present);
  closeWith(CloseRequest{});
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_FALSE(tray.present) << "the exit's removal is final";
}

TEST_F(MainWindow, TheDesktopStripGoesBackToTheBottomAfterEveryActivation) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  struct Step {
    std::vector<Event> events;
    const char* what;
  };
  const Step steps[] = {
      {{TrayMenuRequest{}}, "tray menu"},
      {{Command{CmdToggleVisibility}, Command{CmdToggleVisibility}}, "hide, show"},
      {{TrayActivate{}, TrayActivate{}}, "hide, show from the tray icon"},
  };
  window.visible = true;  // as the host shows it once the start is over
  for (DisplayMode mode : {DisplayMode::Window, DisplayMode::Desktop}) {
    enter(mode);
    for (const Step& step : steps) {
      window.calls.clear();
      for (const Event& e : step.events) host.deliver(e);
      const bool restacked = !window.calls.empty() && window.calls.back() == "stacking Below";
      EXPECT_EQ(restacked, mode == DisplayMode::Desktop) << step.what << " in mode " << int(mode);
    }
  }
  enter(DisplayMode::Window);
  closeWith(CloseRequest{});
}

// ---- Screens that change, a second start ------------------------------------------

TEST_F(MainWindow, ADisplayChangeResizesTheStripAndKeepsTheWindowVisible) {
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  window.move(1500, 900, 443, 147, false);
  host.screen = {1280, 720};
  window.screens = {Rect{0, 0, 1280, 720}};
  host.deliver(DisplayChange{});
  EXPECT_EQ(app.frames().screenSize().x, 1280);
  EXPECT_EQ(app.frames().screenSize().y, 720);
  EXPECT_EQ(app.frames().screenBuffer().width, 1280);
  EXPECT_EQ(app.frames().screenBuffer().height, 720);
  EXPECT_EQ(app.frames().layout(), computeLayoutMetrics(1280, 720, app.display().fullScreenPosition));
  EXPECT_EQ(window.rect, (Rect{837, 575, 1280, 722})) << "moved back onto the screen, whole";

  // Outside Window mode the strip follows at once, and the place to return to is kept visible.
  window.move(2500, 100, 443, 147, false);  // the place Window mode returns to, off the new screen
  enter(DisplayMode::FullScreen);
  host.screen = {800, 600};
  window.screens = {Rect{0, 0, 800, 600}};
  host.deliver(DisplayChange{});
  EXPECT_EQ(app.display().savedX, 800 - 443);
  presenter.presentations.clear();
  app.runFrame();
  ASSERT_EQ(presenter.presentations.size(), 1u);
  EXPECT_EQ(presenter.presentations[0].size, (Point{800, 600}));
  EXPECT_EQ(presenter.liveBuffers(), 2);

  // A window on a second monitor stays where it is.
  enter(DisplayMode::Window);
  window.screens = {Rect{0, 0, 800, 600}, Rect{800, 0, 2720, 1080}};
  window.move(1000, 100, 443, 147, false);
  host.deliver(DisplayChange{});
  EXPECT_EQ(window.rect.left, 1000);
  closeWith(CloseRequest{});
}

// ---- Several monitors ------------------------------------------------------------

// The primary monitor on the left with a 40-pixel taskbar at its bottom; a larger one on
// its right, 200 pixels higher.
const std::vector<Monitor> TwoMonitors{
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 1.0},
    {{1920, -200, 4480, 1240}, {1920, -200, 4480, 1240}, false, 1.0},
};

// The host and the window see the same monitors.
void useMonitors(fakes::FakeAppHost& host, FakeWindow& window, const std::vector<Monitor>& monitors) {
  host.displays = monitors;
  window.screens.clear();
  for (const Monitor& m : monitors) window.screens.push_back(m.area);
}

// A saved position is kept where at least 32 x 32 pixels of the window lie on a monitor's
// work area, else the window starts at (50, 50) on the primary monitor.
struct SavedPositionCase {
  const char* name;
  Point saved;
  bool kept;
};

struct SavedPositionOnTwoMonitors : MainWindow, ::testing::WithParamInterface<SavedPositionCase> {};

TEST_P(SavedPositionOnTwoMonitors, IsKeptWhereEnoughOfTheWindowShows) {
  const SavedPositionCase& c = GetParam();
  useMonitors(host, window, TwoMonitors);
  Settings saved;
  saved.savedX = c.saved.x;
  saved.savedY = c.saved.y;
  files.files["tonalis.ini"] = writeSettings(saved);
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });  // past the splash: saves may happen
  const Point expected = c.kept ? c.saved : Point{50, 50};
  EXPECT_EQ((Point{window.rect.left, window.rect.top}), expected);
  EXPECT_EQ(window.rect.width(), WindowWidth);
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(log.count("files.replace"), 0) << "a moved-back position alone does not rewrite the file";
  closeWith(CloseRequest{});
  const Settings written = readSettings(files.files["tonalis.ini"], AnyPosition).settings;
  EXPECT_EQ((Point{written.savedX, written.savedY}), expected);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, SavedPositionOnTwoMonitors,
    ::testing::Values(SavedPositionCase{"OnThePrimary", {300, 200}, true},
                      SavedPositionCase{"OnTheRightMonitorAboveThePrimarysTop", {3000, -150}, true},
                      SavedPositionCase{"Exactly32x32InThePrimarysLowerLeft", {-411, 1008}, true},
                      SavedPositionCase{"Only31WideThere", {-412, 1008}, false},
                      SavedPositionCase{"Only31RowsAboveTheTaskbar", {100, 1009}, false},
                      SavedPositionCase{"Exactly32x32InTheRightMonitorsUpperRight", {4448, -313}, true},
                      SavedPositionCase{"Only31RowsThere", {4448, -314}, false},
                      SavedPositionCase{"AboveThePrimaryBesideTheRightMonitor", {100, -300}, false},
                      SavedPositionCase{"PastTheRightMonitor", {5000, 0}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// FullScreen and Desktop: the strip covers the monitor the window is on, at that monitor's
// size and layout, placed in virtual-screen pixels.
TEST_F(MainWindow, TheStripCoversTheMonitorTheWindowIsOn) {
  useMonitors(host, window, TwoMonitors);
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  const Rect right = TwoMonitors[1].area;
  const auto lastFrame = [&] {
    presenter.presentations.clear();
    app.runFrame();
    return presenter.presentations.at(0);
  };

  window.move(3000, 300, 443, 145, false);  // mostly on the right monitor
  host.deliver(Command{CmdFullScreenMode});
  EXPECT_EQ(app.frames().monitor(), right);
  EXPECT_EQ(app.frames().screenBuffer().width, 2560);
  EXPECT_EQ(app.frames().screenBuffer().height, 1440);
  EXPECT_EQ(app.frames().layout(), computeLayoutMetrics(2560, 1440, app.display().fullScreenPosition));
  auto frame = lastFrame();
  EXPECT_EQ(frame.destination, (Point{1920, -200}));
  EXPECT_EQ(frame.size, (Point{2560, 1440}));

  // Between the strip modes the strip stays where it is.
  host.deliver(Command{CmdDesktopMode});
  const LayoutMetrics& m = app.frames().layout();
  frame = lastFrame();
  EXPECT_EQ(frame.destination, (Point{1920, -200 + m.stripTop}));
  EXPECT_EQ(frame.size, (Point{2560, m.stripHeight}));

  // Back in Window mode at its place, then over to the primary: the strip follows.
  host.deliver(Command{CmdWindowMode});
  EXPECT_EQ((Point{window.rect.left, window.rect.top}), (Point{3000, 300}));
  window.move(1600, 500, 443, 145, false);  // more of it on the primary than on the right
  host.deliver(Command{CmdDesktopMode});
  EXPECT_EQ(app.frames().monitor(), TwoMonitors[0].area);
  EXPECT_EQ(app.frames().layout(), computeLayoutMetrics(1920, 1080, app.display().fullScreenPosition));
  frame = lastFrame();
  EXPECT_EQ(frame.destination, (Point{0, app.frames().layout().stripTop}));
  EXPECT_EQ(presenter.liveBuffers(), 2) << "one window buffer, one strip buffer";
  host.deliver(Command{CmdWindowMode});
  closeWith(CloseRequest{});
}

// The window takes the scale of the monitor it is on: at start-up from where it was saved,
// then as the system reports (a move to another monitor, or a display change where the
// system reports none of its own). The saved position stays in screen pixels.
TEST_F(MainWindow, TheWindowFollowsTheScaleOfItsMonitor) {
  std::vector<Monitor> monitors = TwoMonitors;
  monitors[1].scale = 2.0;  // the right monitor at 200 %
  useMonitors(host, window, monitors);
  Settings saved;
  saved.savedX = 3000;
  saved.savedY = 300;
  files.files["tonalis.ini"] = writeSettings(saved);
  Tonalis app(ports());
  runUntil(app, [&] { return host.timers.count(1) != 0; });
  EXPECT_EQ(window.rect, (Rect{3000, 300, 3886, 590})) << "saved on the 200 % monitor";
  presenter.presentations.clear();
  app.runFrame();
  EXPECT_EQ(presenter.presentations.at(0).size, (Point{886, 290}));

  // A drag starts only after 8 pixels at 200 % (the system's 4, scaled).
  host.deliver(PointerPress{{100, 100}, MouseButton::Left});
  host.deliver(PointerMove{{107, 100}, true});
  EXPECT_EQ(window.rect.left, 3000) << "7 pixels are still a click";
  host.deliver(PointerMove{{108, 100}, true});
  EXPECT_EQ(window.rect.left, 3008);
  host.deliver(PointerRelease{{108, 100}, MouseButton::Left});

  // Dragged over to the primary monitor: the system says 100 % and where the window goes.
  host.deliver(ScaleChange{1.0, {1500, 400, 1943, 545}});
  EXPECT_EQ(window.rect, (Rect{1500, 400, 1943, 545}));
  presenter.presentations.clear();
  app.runFrame();
  EXPECT_EQ(presenter.presentations.at(0).size, (Point{WindowWidth, WindowHeight}));

  // The primary's scale changes to 150 % with no message of its own: the display change.
  monitors[0].scale = 1.5;
  useMonitors(host, window, monitors);
  host.deliver(DisplayChange{});
  EXPECT_EQ(window.rect, (Rect{1500, 400, 2165, 618})) << "the top-left corner stays";

  closeWith(CloseRequest{});
  const Settings written = readSettings(files.files["tonalis.ini"], AnyPosition).settings;
  EXPECT_EQ((Point{written.savedX, written.savedY}), (Point{1500, 400}));
}

// A display change keeps the strip on its monitor while that one is there (at its new size),
// and sends it to the primary monitor when it goes.
TEST_F(MainWindow, AStripWhoseMonitorGoesMovesToThePrimary) {
  useMonitors(host, window, TwoMonitors);
  Tonalis app(ports());
  ASSERT_NO_FATAL_FAILURE(fullScreenOnTheSecondMonitor(app));

  std::vector<Monitor> smaller = TwoMonitors;
  smaller[1].area = smaller[1].workArea = Rect{1920, -200, 3200, 520};  // 1280 x 720 now
  useMonitors(host, window, smaller);
  host.deliver(DisplayChange{});
  EXPECT_EQ(app.frames().monitor(), (Rect{1920, -200, 3200, 520}));
  EXPECT_EQ(app.frames().layout(), computeLayoutMetrics(1280, 720, app.display().fullScreenPosition));

  useMonitors(host, window, {TwoMonitors[0]});
  host.deliver(DisplayChange{});
  EXPECT_EQ(app.frames().monitor(), TwoMonitors[0].area);
  EXPECT_EQ(app.frames().screenBuffer().width, 1920);
  EXPECT_EQ(app.frames().screenBuffer().height, 1080);
  presenter.presentations.clear();
  app.runFrame();
  ASSERT_EQ(presenter.presentations.size(), 1u);
  EXPECT_EQ(presenter.presentations[0].destination, (Point{0, 0}));
  EXPECT_EQ(presenter.presentations[0].size, (Point{1920, 1080}));
  host.deliver(Command{CmdWindowMode});
  closeWith(CloseRequest{});
}

// Wine on X11 sends nothing when an output goes: the once-a-second look at the monitors
// finds it, and finds nothing to do while they stay as they were.
TEST_F(MainWindow, AMonitorThatGoesUntoldIsFoundWithinASecond) {
  useMonitors(host, window, TwoMonitors);
  Tonalis app(ports());
  ASSERT_NO_FATAL_FAILURE(fullScreenOnTheSecondMonitor(app));
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(app.frames().monitor(), TwoMonitors[1].area);

  useMonitors(host, window, {TwoMonitors[0]});
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(app.frames().monitor(), TwoMonitors[0].area);
  EXPECT_EQ(app.frames().screenBuffer().width, 1920);

  useMonitors(host, window, TwoMonitors);
  host.deliver(Command{CmdWindowMode});
  host.deliver(TimerTick{Tonalis::MaintenanceTimerId});
  EXPECT_EQ(app.frames().monitor(), TwoMonitors[0].area) << "the strip stays where it went";
  closeWith(CloseRequest{});
}

TEST_F(MainWindow, ASecondStartShowsTheFirstAndEndsAtOnce) {
  instance.othersRunning = true;
  Tonalis second(ports());
  EXPECT_EQ(second.run(), 0);
  EXPECT_EQ(log.calls(), (std::vector<std::string>{"instance.claim taken", "instance.wake"}));

  // The first copy, told of it, shows its hidden window and brings it forward.
  instance.othersRunning = false;
  Tonalis first(ports());
  runUntil(first, [&] { return host.timers.count(1) != 0; });
  window.hide();
  window.calls.clear();
  host.deliver(SecondInstance{});
  EXPECT_EQ(window.calls, (std::vector<std::string>{"show", "foreground"}));
  closeWith(CloseRequest{});
}

}  // namespace
}  // namespace tonalis
