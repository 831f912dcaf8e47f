#include "app/tonalis.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/command_ids.h"
#include "app/event_table.h"
#include "app/settings_file.h"
#include "app/tray_menu.h"
#include "about/about_info.h"
#include "render/canvas.h"
#include "render/strip_renderer.h"
#include "render/theme.h"
#include "window/monitors.h"
#include "window/window_commands.h"

namespace tonalis {

namespace {

constexpr char StartupFailedTitle[] = "开机启动未能设置";

}  // namespace

struct TonalisEvents {
  static constexpr auto table = [] {
    std::array<EventEntry<Tonalis>, 31 + TransparencyCommands.size() + SpectrumStyleCommands.size() +
                                        ColorThemeCommands.size() + FullScreenPositionCommands.size() + 2 +
                                        MaxSourceDevices + FrameDelayCommands.size() + 1>
        t{};
    size_t n = 0;
    t[n++] = onEvent<KeyPress, &Tonalis::onKey>();
    t[n++] = onEvent<PaintRequest, &Tonalis::onPaint>();
    t[n++] = onEvent<EraseBackground, &Tonalis::onEraseBackground>();
    t[n++] = onEvent<TimerTick, &Tonalis::onTimer>();
    t[n++] = onEvent<CloseRequest, &Tonalis::onClose>();
    t[n++] = onEvent<AppEvent, &Tonalis::onSplashShown>(Tonalis::SplashShownEvent);
    t[n++] = onEvent<AppEvent, &Tonalis::onSplashEnded>(Tonalis::SplashEndedEvent);
    t[n++] = onEvent<AppEvent, &Tonalis::onSoundAfterSilence>(Tonalis::SoundAfterSilenceEvent);
    t[n++] = onEvent<SessionLock, &Tonalis::onSessionLock>();
    t[n++] = onEvent<TrayActivate, &Tonalis::toggleWindowVisibility>();
    t[n++] = onEvent<TrayMenuRequest, &Tonalis::showTrayMenu>();
    t[n++] = onEvent<PointerPress, &Tonalis::onPointerPress>();
    t[n++] = onEvent<PointerDoubleClick, &Tonalis::onPointerDoubleClick>();
    t[n++] = onEvent<PointerMove, &Tonalis::onPointerMove>();
    t[n++] = onEvent<PointerRelease, &Tonalis::onPointerRelease>();
    t[n++] = onEvent<DeviceChange, &Tonalis::onDeviceChange>();
    t[n++] = onEvent<SessionQuery, &Tonalis::onQueryEndSession>();
    t[n++] = onEvent<SessionEnd, &Tonalis::onEndSession>();
    t[n++] = onEvent<DisplayChange, &Tonalis::onDisplayChange>();
    t[n++] = onEvent<ScaleChange, &Tonalis::onScaleChange>();
    t[n++] = onEvent<ShellRestarted, &Tonalis::onShellRestarted>();
    t[n++] = onEvent<SecondInstance, &Tonalis::onSecondInstance>();
    t[n++] = onCommand<&Tonalis::toggleWindowVisibility>(CmdToggleVisibility);
    t[n++] = onCommand<&Tonalis::onBoardCommand>(CmdBoardConnect);
    t[n++] = onCommand<&Tonalis::onExitCommand>(CmdExit);
    t[n++] = onCommand<&Tonalis::onAboutCommand>(CmdAbout);
    t[n++] = onCommand<&Tonalis::onWindowModeCommand>(CmdWindowMode);
    // The rest of the display and window commands.
    t[n++] = onCommand<&Tonalis::onDesktopModeCommand>(CmdDesktopMode);
    t[n++] = onCommand<&Tonalis::onFullScreenModeCommand>(CmdFullScreenMode);
    t[n++] = onCommand<&Tonalis::onTopMostCommand>(CmdTopMost);
    t[n++] = onCommand<&Tonalis::onClickThroughCommand>(CmdClickThrough);
    for (uint32_t id : TransparencyCommands) t[n++] = onCommand<&Tonalis::onTransparencyCommand>(id);
    for (uint32_t id : SpectrumStyleCommands) t[n++] = onCommand<&Tonalis::onStyleCommand>(id);
    for (uint32_t id : ColorThemeCommands) t[n++] = onCommand<&Tonalis::onThemeCommand>(id);
    for (uint32_t id : FullScreenPositionCommands) t[n++] = onCommand<&Tonalis::onPositionCommand>(id);
    t[n++] = onCommand<&Tonalis::onSourceCommand>(CmdSourceDefaultInput);
    t[n++] = onCommand<&Tonalis::onSourceCommand>(CmdSourcePlaying);
    for (uint32_t i = 0; i < MaxSourceDevices; ++i) {
      t[n++] = onCommand<&Tonalis::onSourceCommand>(CmdSourceFirstDevice + i);
    }
    for (uint32_t id : FrameDelayCommands) t[n++] = onCommand<&Tonalis::onDelayCommand>(id);
    t[n++] = onCommand<&Tonalis::onStartWithSessionCommand>(CmdStartWithSession);
    if (n != t.size()) throw "event table size";  // a compile-time error in this constant
    return t;
  }();
};

Tonalis::Tonalis(AppPorts ports) : ports_(ports) {}

Tonalis::~Tonalis() { ports_.host.setHandler(nullptr); }

bool Tonalis::dispatch(Event& event) {
  const bool handled = dispatchEvent<Tonalis>(TonalisEvents::table, *this, event);
  // Whatever the user or the system changed shows on the next frame, not after a held
  // picture's long wait.
  if (!std::holds_alternative<TimerTick>(event) && !std::holds_alternative<PaintRequest>(event) &&
      !std::holds_alternative<EraseBackground>(event) && !closing_) {
    setFramePeriod(FramePeriodMillis);
  }
  return handled;
}

int Tonalis::run() {
  if (!ports_.instance.claim()) {
    ports_.instance.wakeFirst();
    return 0;
  }
  // Only the copy that runs has a main window: a second one's would answer the wake-up.
  if (!ports_.host.createMainWindow()) return 1;
  // A start that ends the program at once still lets the host close its window.
  if (!start()) ports_.host.quit();
  ports_.host.run();
  return 0;
}

// ---------------------------------------------------------------- start-up

bool Tonalis::start() {
  // Events come from here on: a message box of the start already delivers them.
  ports_.host.setHandler([this](Event& event) { return dispatch(event); });
  ports_.host.setWindowIcon();
  assets_.loadAll(ports_.bitmaps);

  // Hidden, and without a taskbar button (the tray icon is the program's interface).
  ports_.window.hide();
  ports_.window.setTaskbarButton(false);
  // A shell not ready yet (a start at logon) gets asked again until the icon is in.
  tray_.wantIcon();
  tray_.ensureIcon();

  capture_.captureReleaseCount = 0;

  // The source decides whether a missing recording device may stop the start, so the file
  // is read before anything else is set up; read once, so the start sees one version of it.
  // A saved position is checked against every monitor, not the file's screen limits: a
  // window left on a secondary monitor comes back there.
  const std::vector<Monitor> monitors = ports_.host.monitors();
  monitorsSeen_ = monitors;
  // The window's size follows its monitor's scale: the primary one's until the saved
  // position says which monitor it is on.
  frames_.setWindowScale(scalePercentOf(primaryMonitor(monitors).scale));
  const StoredSettings stored = settings_.load(
      AnyPosition, [&](Point saved) { return placeSavedWindow(monitors, saved, windowSize()); });
  if (const CaptureStart start = prepareCapture(capture_, ports_.sound, stored.source); start != CaptureStart::Ready) {
    if (const std::string_view message = captureStartMessage(start); !message.empty()) {
      ports_.shell.showMessage(message);
    }
    // The program ends without a trace in the tray.
    tray_.removeIcon();
    releaseCapture(capture_, ports_.sound);
    return false;
  }

  {
    const Point size = windowSize();
    const Rect saved{stored.settings.savedX, stored.settings.savedY, stored.settings.savedX + size.x,
                     stored.settings.savedY + size.y};
    applyWindowScale(scalePercentOf(monitorFor(monitors, saved).scale), {});
  }
  loadSettings(stored);

  capture_.ring.clear();
  // The strip starts on the primary monitor; entering its mode moves it to the window's.
  frames_.start(assets_, primaryMonitor(monitors).area, display_.fullScreenPosition);

  // The splash is never faded: the saved alpha returns when it ends.
  display_.constantAlpha = 255;
  display_.displayMode = DisplayMode::Window;

  initBoardLink(board_, ports_.hid);
  openBoard(board_);

  // The exit may have been asked for while capture was being prepared (its message box
  // runs messages): then there is nothing left to start.
  if (closing_) return false;
  maintenanceTimerOn_ = ports_.host.setTimer(MaintenanceTimerId, MaintenancePeriodMillis);

  // Posting is safe from the worker; the timer is the UI thread's business.
  capture_.soundAfterSilence = [this] { ports_.host.post(AppEvent{SoundAfterSilenceEvent}); };
  worker_.start(SplashShownEvent, SplashEndedEvent);
  return true;
}


void Tonalis::onSplashEnded() {
  if (!worker_.running() || closing_) return;
  frames_.clearSplash();
  applyTransparencyMode(display_, ports_.window, display_.transparencyMode);
  frameTimerWanted_ = true;
  startTimers();
}


void Tonalis::onSplashShown() {
  if (!splashActive() || closing_) return;
  frames_.drawSplash(assets_.get(SplashBitmap));
  runFrame();
}

// ---------------------------------------------------------------- settings

void Tonalis::loadSettings(const StoredSettings& stored) {
  storeSettings(stored.settings, display_);
  applyColorTheme(display_.colorTheme);
  applyLoadedSettings(display_, ports_.window, windowSize());
  frameDelayMillis_ = stored.delayMillis;
  settingsApplied_ = true;
  tellNotices();
}

bool Tonalis::saveSettings(bool always) {
  // Before the file's values are in the record it holds defaults, not the user's settings:
  // writing them would wipe the file (an exit while the "cannot record" box is up).
  if (!settingsApplied_) return true;
  rememberWindowPosition(display_, ports_.window);
  const bool saved = settings_.save({settingsFromDisplay(display_), capture_.chosen(), frameDelayMillis_}, always);
  tellNotices();
  return saved;
}

void Tonalis::tellNotices() {
  // As soon as there is an icon to tell them from (a shell that is late gets them later).
  if (!tray_.iconShown()) return;
  while (const std::optional<Notice> notice = settings_.takeNotice()) tray_.tell(notice->title, notice->text);
}

void Tonalis::applyColorTheme(int32_t theme) {
  const ThemeColors colors = themeColors(theme);
  barColor_ = colors.barColor;
  peakColor_ = colors.peakColor;
}

void Tonalis::onDisplayChange() {
  if (closing_ || !frames_.started()) return;  // not started, or going
  const std::vector<Monitor> monitors = ports_.host.monitors();
  monitorsSeen_ = monitors;
  if (monitors.empty()) return;  // between a monitor leaving and another coming: wait for the next change
  // The strip stays on its monitor while that one is there, and goes to the primary one
  // when it is gone.
  frames_.screenChanged(monitorAfterChange(monitors, frames_.monitor()).area, display_.fullScreenPosition);
  // A system that tells no scale change of its own (X11) changes the scale with the screens.
  const Rect window = display_.displayMode == DisplayMode::Window
                          ? ports_.window.windowRect()
                          : Rect{display_.savedX, display_.savedY, display_.savedX + windowSize().x,
                                 display_.savedY + windowSize().y};
  applyWindowScale(scalePercentOf(monitorFor(monitors, window).scale), {});
  keepWindowOnScreen(monitors);
}

bool Tonalis::onScaleChange(const ScaleChange& change) {
  if (closing_) return true;
  applyWindowScale(scalePercentOf(change.scale), change.suggested);
  return true;
}

void Tonalis::applyWindowScale(int32_t percent, const Rect& to) {
  const int32_t before = frames_.windowScale().percent();
  frames_.setWindowScale(percent);
  windowDrag_.threshold = frames_.windowScale().scaleLength(DragThreshold);
  if (frames_.windowScale().percent() == before || !settingsApplied_) return;
  const Point size = windowSize();
  if (display_.displayMode == DisplayMode::Window) {
    const Rect now = ports_.window.windowRect();
    const Point at = to.width() > 0 ? Point{to.left, to.top} : Point{now.left, now.top};
    ports_.window.move(at.x, at.y, size.x, size.y, true);
    if (frames_.started() && !closing_) runFrame();
  } else if (to.width() > 0) {
    // The strip keeps its monitor; the window comes back where the system put it.
    display_.savedX = to.left;
    display_.savedY = to.top;
  }
}

void Tonalis::keepWindowOnScreen(std::span<const Monitor> monitors) {
  // Back onto the primary screen, whole where it fits, when no monitor shows any of it.
  const Rect screen = primaryMonitor(monitors).area;
  const auto onScreen = [&](int32_t x, int32_t y) {
    return Point{std::clamp(x, screen.left, std::max(screen.left, screen.right - windowSize().x)),
                 std::clamp(y, screen.top, std::max(screen.top, screen.bottom - windowSize().y))};
  };
  if (display_.displayMode == DisplayMode::Window) {
    const Rect rect = ports_.window.windowRect();
    if (ports_.window.isOnAnyScreen(rect)) return;
    const Point to = onScreen(rect.left, rect.top);
    ports_.window.move(to.x, to.y, rect.width(), rect.height(), true);
  } else {
    // The strip follows the layout; the place to return to must be visible too.
    const Rect saved{display_.savedX, display_.savedY, display_.savedX + windowSize().x, display_.savedY + windowSize().y};
    if (ports_.window.isOnAnyScreen(saved)) return;
    const Point to = onScreen(saved.left, saved.top);
    display_.savedX = to.x;
    display_.savedY = to.y;
  }
}

// ---------------------------------------------------------------- keys, paint

bool Tonalis::onKey(const KeyPress& key) {
  // Neither Enter nor Escape may close the window; Escape leaves a strip mode.
  if (key.key == Key::Escape) onEscapeKey(display_, ports_.window, splashActive(), windowSize(), ports_.clock);
  return key.key == Key::Enter || key.key == Key::Escape;
}

// A layered window keeps its picture in the system: nothing to paint then (default
// processing). A window painted from the frame has nothing to erase: the erase would only
// flash.
bool Tonalis::onPaint() { return ports_.presenter.repaint(); }

bool Tonalis::onEraseBackground() { return ports_.presenter.paintsWindow(); }

// ---------------------------------------------------------------- tray

void Tonalis::toggleWindowVisibility() {
  if (ports_.window.isVisible()) {
    ports_.window.hide();
  } else {
    ports_.window.show();
    keepDesktopAtBottom();
  }
}

void Tonalis::showTrayMenu() {
  TrayMenuState state = trayMenuState(display_, board_.connected != 0, ports_.window.isVisible());
  state.delayMillis = frameDelayMillis_;
  // Tracking brings the window to the foreground, which lifts a desktop strip over the
  // other windows.
  tray_.showMenu(std::move(state));
  keepDesktopAtBottom();
}

void Tonalis::onSourceCommand(const Command& command) {
  const std::optional<SoundSource> source = tray_.sourceFor(command.id);
  if (source && !(*source == capture_.chosen())) capture_.choose(*source);
}

void Tonalis::onDelayCommand(const Command& command) {
  const int32_t index = valueForCommand(FrameDelayCommands, 0, command.id);
  if (index >= 0) frameDelayMillis_ = FrameDelays[size_t(index)];
}

void Tonalis::onStartWithSessionCommand() {
  if (ports_.shell.setStartWithSession(!ports_.shell.startsWithSession())) return;
  // Told as a failed save is: the folder (or the registry) refused, and the user can act.
  tray_.tell(StartupFailedTitle, ProductName);
}

void Tonalis::keepDesktopAtBottom() {
  if (display_.displayMode == DisplayMode::Desktop) ports_.window.setStacking(Stacking::Below);
}

void Tonalis::ensureTrayIcon() {
  tray_.ensureIcon();
  tellNotices();
}

void Tonalis::onShellRestarted() {
  tray_.shellRestarted();
  tellNotices();
}

void Tonalis::onSecondInstance() {
  if (closing_) return;
  if (!ports_.window.isVisible()) ports_.window.show();
  if (display_.displayMode == DisplayMode::Desktop) {
    keepDesktopAtBottom();
    return;
  }
  keepWindowOnScreen(ports_.host.monitors());
  ports_.window.setForeground();
}

// ---------------------------------------------------------------- window commands

// Only the left button moves the window; every press goes on to default processing.
bool Tonalis::onPointerPress(const PointerPress& press) {
  if (press.button == MouseButton::Left) pressOnWindow(windowDrag_, display_, press.at);
  return false;
}

bool Tonalis::onPointerMove(const PointerMove& move) {
  moveOverWindow(windowDrag_, display_, ports_.window, move.at, move.leftHeld);
  return false;
}

bool Tonalis::onPointerRelease(const PointerRelease& release) {
  if (release.button == MouseButton::Left) releaseOnWindow(windowDrag_);
  return false;
}

bool Tonalis::onPointerDoubleClick(const PointerDoubleClick& click) {
  if (click.button != MouseButton::Left) return false;
  releaseOnWindow(windowDrag_);
  const DisplayMode before = display_.displayMode;
  onWindowDoubleClick(display_, ports_.window, splashActive(), windowSize(), ports_.clock);
  stripFollowsWindow(before);
  return false;
}

void Tonalis::onWindowModeCommand() {
  enterWindowMode(display_, ports_.window, splashActive(), windowSize(), ports_.clock);
}

void Tonalis::onDesktopModeCommand() {
  const DisplayMode before = display_.displayMode;
  enterDesktopMode(display_, ports_.window, splashActive());
  stripFollowsWindow(before);
}

void Tonalis::onFullScreenModeCommand() {
  const DisplayMode before = display_.displayMode;
  enterFullScreenMode(display_, ports_.window, splashActive());
  stripFollowsWindow(before);
}

void Tonalis::stripFollowsWindow(DisplayMode before) {
  // Only on leaving Window mode: between FullScreen and Desktop the strip stays where it is.
  if (before != DisplayMode::Window || display_.displayMode == DisplayMode::Window) return;
  const std::vector<Monitor> monitors = ports_.host.monitors();
  if (monitors.empty()) return;
  frames_.screenChanged(monitorFor(monitors, ports_.window.windowRect()).area, display_.fullScreenPosition);
}

void Tonalis::onTopMostCommand() { toggleTopMost(display_, ports_.window); }

void Tonalis::onClickThroughCommand() { toggleClickThrough(display_, ports_.window); }

void Tonalis::onTransparencyCommand(const Command& command) {
  const int32_t mode = valueForCommand(TransparencyCommands, FirstTransparencyMode, command.id);
  selectTransparencyMode(display_, ports_.window, splashActive(), mode);
}

void Tonalis::onStyleCommand(const Command& command) {
  selectSpectrumStyle(display_, valueForCommand(SpectrumStyleCommands, FirstSpectrumStyle, command.id));
}

void Tonalis::onThemeCommand(const Command& command) {
  display_.colorTheme = valueForCommand(ColorThemeCommands, FirstColorTheme, command.id);
  applyColorTheme(display_.colorTheme);
}

void Tonalis::onPositionCommand(const Command& command) {
  display_.fullScreenPosition = valueForCommand(FullScreenPositionCommands, FirstFullScreenPosition, command.id);
  frames_.screenChanged(frames_.monitor(), display_.fullScreenPosition);
}

// ---------------------------------------------------------------- board_, about

void Tonalis::onBoardCommand() { toggleBoard(board_); }

void Tonalis::onDeviceChange(const DeviceChange& change) { onBoardDeviceChange(board_, change); }

void Tonalis::onAboutCommand() {
  if (!closing_) ports_.host.showAbout(AboutInfo{});
}

// ---------------------------------------------------------------- exit

void Tonalis::onExitCommand() { onClose(); }

void Tonalis::onClose() { shutDown(ExitPauseMillis, WorkerExitBoundMillis); }

void Tonalis::onQueryEndSession(SessionQuery& query) {
  // The system may end the process at any moment from here on.
  if (!closing_) saveSettings(true);
  query.agree = true;
}

void Tonalis::onEndSession(const SessionEnd& end) {
  if (end.ending) shutDown(0, SessionEndWorkerBoundMillis);
}

void Tonalis::shutDown(uint32_t pauseMillis, uint32_t workerBoundMillis) {
  // Once: a close request can meet the end of the session or the worker's own request.
  if (closing_) return;
  closing_ = true;
  tray_.removeIcon();
  worker_.stop();
  saveSettings(true);
  if (pauseMillis) ports_.clock.sleepMillis(pauseMillis);
  ports_.host.killTimer(FrameTimerId);
  ports_.host.killTimer(MaintenanceTimerId);
  frameTimerWanted_ = false;
  closeBoard(board_);
  // Buffers go only once the worker is gone. A worker stuck in a device call is left
  // behind with the capture memory it may still touch; the program ends without it.
  if (worker_.join(workerBoundMillis)) releaseCapture(capture_, ports_.sound);
  frames_.stop();
  ports_.host.quit();
}


// ---------------------------------------------------------------- frames

void Tonalis::onTimer(const TimerTick& tick) {
  if (closing_) return;
  if (tick.id == FrameTimerId) {
    onFrameTimer();
    // Each timer restarts the other one when the system refused it.
    if (!maintenanceTimerOn_) startTimers();
  } else if (tick.id == MaintenanceTimerId) {
    onMaintenanceTimer();
  }
}

void Tonalis::startTimers() {
  if (frameTimerWanted_ && !frameTimerOn_) {
    frameTimerOn_ = ports_.host.setTimer(FrameTimerId, FramePeriodMillis);
  }
  if (!maintenanceTimerOn_) {
    maintenanceTimerOn_ = ports_.host.setTimer(MaintenanceTimerId, MaintenancePeriodMillis);
  }
}

void Tonalis::onMaintenanceTimer() {
  ensureTrayIcon();
  startTimers();
  // Not every system tells when a monitor goes or comes (Wine on X11 does not): the list
  // is looked at once a second, and a difference is taken as a display change.
  if (frames_.started() && ports_.host.monitors() != monitorsSeen_) onDisplayChange();
  // Changes are kept as they are made, not only at exit: a crash or a power cut loses
  // nothing, and a folder that cannot be written is found while the user can act on it.
  if (!splashActive()) saveSettings(false);
}

void Tonalis::setFramePeriod(uint32_t millis) {
  if (millis == framePeriod_ || !frameTimerWanted_) return;
  const bool wasSlow = framePeriod_ != FramePeriodMillis;
  if (wasSlow && millis == FramePeriodMillis) catchUpSilentFrames();
  frameTimerOn_ = ports_.host.setTimer(FrameTimerId, millis);
  framePeriod_ = frameTimerOn_ ? millis : FramePeriodMillis;
  if (!wasSlow) slowTickFrom_ = ports_.clock.tickCount();
  // The readout shows the frame time of the running picture, not of a held one.
  frames_.restartMeter();
}

void Tonalis::catchUpSilentFrames(uint32_t keep) {
  // The silent frames a slow timer let pass, but the `keep` about to run.
  const uint32_t now = ports_.clock.tickCount();
  const uint32_t frames = (now - slowTickFrom_) / FramePeriodMillis;
  slowTickFrom_ += frames * FramePeriodMillis;
  if (frames > keep) frames_.skipSilentFrames(frames - keep, display_);
}

void Tonalis::onSoundAfterSilence() {
  if (!closing_) setFramePeriod(FramePeriodMillis);
}

void Tonalis::onSessionLock(const SessionLock& lock) { sessionLocked_ = lock.locked; }

bool Tonalis::seen() {
  return ports_.window.isVisible() && !ports_.host.isMinimized() && !sessionLocked_;
}

void Tonalis::onFrameTimer() {
  const bool slow = framePeriod_ != FramePeriodMillis;
  if (!slow) frames_.timerTick();
  tray_.updateTip();
  if (splashActive()) return;
  if (slow) catchUpSilentFrames(1);
  runFrame();
  // In a digital silence the timer wakes only for a frame that shows something new, once
  // the readout has a frame time to show.
  const uint32_t held = frames_.frameMillis() != 0 ? frames_.framesHeld() : 1;
  setFramePeriod(held == FramePipeline::HeldUntilSound ? SettledFramePeriodMillis
                                                       : FramePeriodMillis * std::min<uint32_t>(held, MaxHeldFrames));
}

void Tonalis::runFrame() {
  frames_.run({display_, barColor_, peakColor_, board_.connected != 0, splashActive(), uint32_t(frameDelayMillis_),
               splashActive() || seen()},
              capture_.ring);
  runBoardStep(board_, boardClock_, frames_.boardClockMode(), frames_.boardLevels(), ports_.clock);
}

}  // namespace tonalis
