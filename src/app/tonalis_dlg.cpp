#include "app/tonalis_dlg.h"

#include <algorithm>
#include <cstring>

#include "app/command_ids.h"
#include "app/settings_file.h"
#include "app/tray_menu.h"
#include "about/about_dlg.h"
#include "render/canvas.h"
#include "render/strip_renderer.h"
#include "render/theme.h"
#include "window/monitors.h"
#include "window/window_commands.h"

namespace tonalis {

namespace {

constexpr char AboutMenuText[] = "软件信息...";
constexpr char StartupFailedTitle[] = "开机启动未能设置";

constexpr auto kEventTable = [] {
  std::array<EventEntry, 31 + TransparencyCommands.size() + SpectrumStyleCommands.size() +
                             ColorThemeCommands.size() + FullScreenPositionCommands.size() + 2 +
                             MaxSourceDevices + FrameDelayCommands.size() + 1>
      t{};
  size_t n = 0;
  t[n++] = onEvent<SystemCommand, &CTonalisDlg::onAboutCommand>(SysCommandAbout);
  t[n++] = onEvent<PaintRequest, &CTonalisDlg::onPaint>();
  t[n++] = onEvent<EraseBackground, &CTonalisDlg::onEraseBackground>();
  t[n++] = onEvent<TimerTick, &CTonalisDlg::onTimer>();
  t[n++] = onEvent<CloseRequest, &CTonalisDlg::onClose>();
  t[n++] = onEvent<AppEvent, &CTonalisDlg::onSplashShown>(CTonalisDlg::SplashShownEvent);
  t[n++] = onEvent<AppEvent, &CTonalisDlg::onSplashEnded>(CTonalisDlg::SplashEndedEvent);
  t[n++] = onEvent<AppEvent, &CTonalisDlg::onSoundAfterSilence>(CTonalisDlg::SoundAfterSilenceEvent);
  t[n++] = onEvent<SessionLock, &CTonalisDlg::onSessionLock>();
  t[n++] = onEvent<TrayActivate, &CTonalisDlg::toggleWindowVisibility>();
  t[n++] = onEvent<TrayMenuRequest, &CTonalisDlg::showTrayMenu>();
  t[n++] = onEvent<PointerPress, &CTonalisDlg::onPointerPress>();
  t[n++] = onEvent<PointerDoubleClick, &CTonalisDlg::onPointerDoubleClick>();
  t[n++] = onEvent<PointerMove, &CTonalisDlg::onPointerMove>();
  t[n++] = onEvent<PointerRelease, &CTonalisDlg::onPointerRelease>();
  t[n++] = onEvent<DeviceChange, &CTonalisDlg::onDeviceChange>();
  t[n++] = onEvent<SessionQuery, &CTonalisDlg::onQueryEndSession>();
  t[n++] = onEvent<SessionEnd, &CTonalisDlg::onEndSession>();
  t[n++] = onEvent<DisplayChange, &CTonalisDlg::onDisplayChange>();
  t[n++] = onEvent<ScaleChange, &CTonalisDlg::onScaleChange>();
  t[n++] = onEvent<ShellRestarted, &CTonalisDlg::onShellRestarted>();
  t[n++] = onEvent<SecondInstance, &CTonalisDlg::onSecondInstance>();
  t[n++] = onCommand<&CTonalisDlg::toggleWindowVisibility>(CmdToggleVisibility);
  t[n++] = onCommand<&CTonalisDlg::onBoardCommand>(CmdBoardConnect);
  t[n++] = onCommand<&CTonalisDlg::onExitCommand>(CmdExit);
  t[n++] = onCommand<&CTonalisDlg::onAboutCommand>(CmdAbout);
  t[n++] = onCommand<&CTonalisDlg::onWindowModeCommand>(CmdWindowMode);
  // The rest of the display and window commands.
  t[n++] = onCommand<&CTonalisDlg::onDesktopModeCommand>(CmdDesktopMode);
  t[n++] = onCommand<&CTonalisDlg::onFullScreenModeCommand>(CmdFullScreenMode);
  t[n++] = onCommand<&CTonalisDlg::onTopMostCommand>(CmdTopMost);
  t[n++] = onCommand<&CTonalisDlg::onClickThroughCommand>(CmdClickThrough);
  for (uint32_t id : TransparencyCommands) t[n++] = onCommand<&CTonalisDlg::onTransparencyCommand>(id);
  for (uint32_t id : SpectrumStyleCommands) t[n++] = onCommand<&CTonalisDlg::onStyleCommand>(id);
  for (uint32_t id : ColorThemeCommands) t[n++] = onCommand<&CTonalisDlg::onThemeCommand>(id);
  for (uint32_t id : FullScreenPositionCommands) t[n++] = onCommand<&CTonalisDlg::onPositionCommand>(id);
  t[n++] = onCommand<&CTonalisDlg::onSourceCommand>(CmdSourceDefaultInput);
  t[n++] = onCommand<&CTonalisDlg::onSourceCommand>(CmdSourcePlaying);
  for (uint32_t i = 0; i < MaxSourceDevices; ++i) {
    t[n++] = onCommand<&CTonalisDlg::onSourceCommand>(CmdSourceFirstDevice + i);
  }
  for (uint32_t id : FrameDelayCommands) t[n++] = onCommand<&CTonalisDlg::onDelayCommand>(id);
  t[n++] = onCommand<&CTonalisDlg::onStartWithSessionCommand>(CmdStartWithSession);
  if (n != t.size()) throw "event table size";  // a compile-time error in this constant
  return t;
}();

}  // namespace

CTonalisDlg::CTonalisDlg(AppPorts ports) : CDialog(TemplateId, ports.host), ports_(ports) {}

CTonalisDlg::~CTonalisDlg() = default;  // the worker, if still running, is joined by its owner

std::span<const EventEntry> CTonalisDlg::eventTable() const { return kEventTable; }

// ---------------------------------------------------------------- start-up

bool CTonalisDlg::onInitDialog() {
  CDialog::onInitDialog();
  ports_.host.appendSystemMenuItem(SysCommandAbout, AboutMenuText);
  ports_.host.setIcon(appIcon);
  assets.loadAll(ports_.bitmaps);

  // Hidden, and without a taskbar button (the tray icon is the program's interface).
  ports_.window.hide();
  ports_.window.setTaskbarButton(false);
  // A shell not ready yet (a start at logon) gets asked again until the icon is in.
  tray_.wantIcon();
  tray_.ensureIcon();

  capture.captureReleaseCount = 0;

  // The source decides whether a missing recording device may stop the start, so the file
  // is read before anything else is set up; read once, so the start sees one version of it.
  // A saved position is checked against every monitor, not the file's screen limits: a
  // window left on a secondary monitor comes back there.
  const std::vector<Monitor> monitors = ports_.host.monitors();
  // The window's size follows its monitor's scale: the primary one's until the saved
  // position says which monitor it is on.
  frames_.setWindowScale(scalePercentOf(primaryMonitor(monitors).scale));
  const StoredSettings stored = settings_.load(
      AnyPosition, [&](Point saved) { return placeSavedWindow(monitors, saved, windowSize()); });
  if (const CaptureStart start = prepareCapture(capture, ports_.sound, stored.source); start != CaptureStart::Ready) {
    if (const std::string_view message = captureStartMessage(start); !message.empty()) {
      ports_.shell.showMessage(message);
    }
    // The program ends without a trace in the tray.
    tray_.removeIcon();
    releaseCapture(capture, ports_.sound);
    endDialog(IdCancel);
    return true;
  }

  {
    const Point size = windowSize();
    const Rect saved{stored.settings.savedX, stored.settings.savedY, stored.settings.savedX + size.x,
                     stored.settings.savedY + size.y};
    applyWindowScale(scalePercentOf(monitorFor(monitors, saved).scale), {});
  }
  loadSettings(stored);

  capture.ring.clear();
  // The strip starts on the primary monitor; entering its mode moves it to the window's.
  frames_.start(assets, primaryMonitor(monitors).area, display.fullScreenPosition);

  // The splash is never faded: the saved alpha returns when it ends.
  display.constantAlpha = 255;
  display.displayMode = DisplayMode::Window;

  initBoardLink(board, ports_.hid);
  openBoard(board);

  // The exit may have been asked for while capture was being prepared (its message box
  // runs messages): then there is nothing left to start.
  if (closing_) return true;
  maintenanceTimerOn_ = ports_.host.setTimer(MaintenanceTimerId, MaintenancePeriodMillis);

  // Posting is safe from the worker; the timer is the window's business.
  capture.soundAfterSilence = [this] { ports_.host.post(AppEvent{SoundAfterSilenceEvent}); };
  worker_.start(SplashShownEvent, SplashEndedEvent);
  return true;
}


void CTonalisDlg::onSplashEnded() {
  if (!worker_.running() || closing_) return;
  frames_.clearSplash();
  applyTransparencyMode(display, ports_.window, display.transparencyMode);
  frameTimerWanted_ = true;
  startTimers();
}


void CTonalisDlg::onSplashShown() {
  if (!splashActive() || closing_) return;
  frames_.drawSplash(assets.get(SplashBitmap));
  runFrame();
}

// ---------------------------------------------------------------- settings

void CTonalisDlg::loadSettings(const StoredSettings& stored) {
  storeSettings(stored.settings, display);
  applyColorTheme(display.colorTheme);
  applyLoadedSettings(display, ports_.window, windowSize());
  frameDelayMillis_ = stored.delayMillis;
  settingsApplied_ = true;
  tellNotices();
}

bool CTonalisDlg::saveSettings(bool always) {
  // Before the file's values are in the record it holds defaults, not the user's settings:
  // writing them would wipe the file (an exit while the "cannot record" box is up).
  if (!settingsApplied_) return true;
  rememberWindowPosition(display, ports_.window);
  const bool saved = settings_.save({settingsFromDisplay(display), capture.chosen(), frameDelayMillis_}, always);
  tellNotices();
  return saved;
}

void CTonalisDlg::tellNotices() {
  // As soon as there is an icon to tell them from (a shell that is late gets them later).
  if (!tray_.iconShown()) return;
  while (const std::optional<Notice> notice = settings_.takeNotice()) tray_.tell(notice->title, notice->text);
}

void CTonalisDlg::applyColorTheme(int32_t theme) {
  const ThemeColors colors = themeColors(theme);
  barColor = colors.barColor;
  peakColor = colors.peakColor;
}

void CTonalisDlg::onDisplayChange() {
  if (closing_ || !frames_.started()) return;  // not started, or going
  const std::vector<Monitor> monitors = ports_.host.monitors();
  if (monitors.empty()) return;  // between a monitor leaving and another coming: wait for the next change
  // The strip stays on its monitor while that one is there, and goes to the primary one
  // when it is gone.
  frames_.screenChanged(monitorAfterChange(monitors, frames_.monitor()).area, display.fullScreenPosition);
  // A system that tells no scale change of its own (X11) changes the scale with the screens.
  const Rect window = display.displayMode == DisplayMode::Window
                          ? ports_.window.windowRect()
                          : Rect{display.savedX, display.savedY, display.savedX + windowSize().x,
                                 display.savedY + windowSize().y};
  applyWindowScale(scalePercentOf(monitorFor(monitors, window).scale), {});
  keepWindowOnScreen(monitors);
}

bool CTonalisDlg::onScaleChange(const ScaleChange& change) {
  if (closing_) return true;
  applyWindowScale(scalePercentOf(change.scale), change.suggested);
  return true;
}

void CTonalisDlg::applyWindowScale(int32_t percent, const Rect& to) {
  const int32_t before = frames_.windowScale().percent();
  frames_.setWindowScale(percent);
  windowDrag_.threshold = frames_.windowScale().scaleLength(DragThreshold);
  if (frames_.windowScale().percent() == before || !settingsApplied_) return;
  const Point size = windowSize();
  if (display.displayMode == DisplayMode::Window) {
    const Rect now = ports_.window.windowRect();
    const Point at = to.width() > 0 ? Point{to.left, to.top} : Point{now.left, now.top};
    ports_.window.move(at.x, at.y, size.x, size.y, true);
    if (frames_.started() && !closing_) runFrame();
  } else if (to.width() > 0) {
    // The strip keeps its monitor; the window comes back where the system put it.
    display.savedX = to.left;
    display.savedY = to.top;
  }
}

void CTonalisDlg::keepWindowOnScreen(std::span<const Monitor> monitors) {
  // Back onto the primary screen, whole where it fits, when no monitor shows any of it.
  const Rect screen = primaryMonitor(monitors).area;
  const auto onScreen = [&](int32_t x, int32_t y) {
    return Point{std::clamp(x, screen.left, std::max(screen.left, screen.right - windowSize().x)),
                 std::clamp(y, screen.top, std::max(screen.top, screen.bottom - windowSize().y))};
  };
  if (display.displayMode == DisplayMode::Window) {
    const Rect rect = ports_.window.windowRect();
    if (ports_.window.isOnAnyScreen(rect)) return;
    const Point to = onScreen(rect.left, rect.top);
    ports_.window.move(to.x, to.y, rect.width(), rect.height(), true);
  } else {
    // The strip follows the layout; the place to return to must be visible too.
    const Rect saved{display.savedX, display.savedY, display.savedX + windowSize().x, display.savedY + windowSize().y};
    if (ports_.window.isOnAnyScreen(saved)) return;
    const Point to = onScreen(saved.left, saved.top);
    display.savedX = to.x;
    display.savedY = to.y;
  }
}

// ---------------------------------------------------------------- keys, system menu, paint

bool CTonalisDlg::preTranslateMessage(const KeyPress& key) {
  if (key.key == Key::Enter || key.key == Key::Escape) {
    if (key.key == Key::Escape) onEscapeKey(display, ports_.window, splashActive(), windowSize(), ports_.clock);
    return true;  // neither key may end the dialog
  }
  return CDialog::preTranslateMessage(key);
}

bool CTonalisDlg::onPaint() {
  if (ports_.host.isIconic()) {
    ports_.host.paintIconic(appIcon);
  } else if (!ports_.presenter.repaint()) {
    return false;  // a layered window: the system keeps its picture
  }
  return true;
}

bool CTonalisDlg::onEraseBackground() {
  // A window painted from the frame has nothing to erase: the erase would only flash.
  return !ports_.host.isIconic() && ports_.presenter.paintsWindow();
}

// ---------------------------------------------------------------- tray

void CTonalisDlg::toggleWindowVisibility() {
  if (ports_.window.isVisible()) {
    ports_.window.hide();
  } else {
    ports_.window.show();
    keepDesktopAtBottom();
  }
}

void CTonalisDlg::showTrayMenu() {
  TrayMenuState state = trayMenuState(display, board.connected != 0, ports_.window.isVisible());
  state.delayMillis = frameDelayMillis_;
  // Tracking brings the window to the foreground, which lifts a desktop strip over the
  // other windows.
  tray_.showMenu(std::move(state));
  keepDesktopAtBottom();
}

void CTonalisDlg::onSourceCommand(const Command& command) {
  const std::optional<SoundSource> source = tray_.sourceFor(command.id);
  if (source && !(*source == capture.chosen())) capture.choose(*source);
}

void CTonalisDlg::onDelayCommand(const Command& command) {
  const int32_t index = valueForCommand(FrameDelayCommands, 0, command.id);
  if (index >= 0) frameDelayMillis_ = FrameDelays[size_t(index)];
}

void CTonalisDlg::onStartWithSessionCommand() {
  if (ports_.shell.setStartWithSession(!ports_.shell.startsWithSession())) return;
  // Told as a failed save is: the folder (or the registry) refused, and the user can act.
  tray_.tell(StartupFailedTitle, ProductName);
}

void CTonalisDlg::updateSourceTip() { tray_.updateTip(); }

void CTonalisDlg::keepDesktopAtBottom() {
  if (display.displayMode == DisplayMode::Desktop) ports_.window.setStacking(Stacking::Below);
}

void CTonalisDlg::ensureTrayIcon() {
  tray_.ensureIcon();
  tellNotices();
}

void CTonalisDlg::onShellRestarted() {
  tray_.shellRestarted();
  tellNotices();
}

void CTonalisDlg::onSecondInstance() {
  if (closing_) return;
  if (!ports_.window.isVisible()) ports_.window.show();
  if (display.displayMode == DisplayMode::Desktop) {
    keepDesktopAtBottom();
    return;
  }
  keepWindowOnScreen(ports_.host.monitors());
  ports_.window.setForeground();
}

// ---------------------------------------------------------------- window commands

// Only the left button moves the window; every press goes on to default processing.
bool CTonalisDlg::onPointerPress(const PointerPress& press) {
  if (press.button == MouseButton::Left) pressOnWindow(windowDrag_, display, press.at);
  return false;
}

bool CTonalisDlg::onPointerMove(const PointerMove& move) {
  moveOverWindow(windowDrag_, display, ports_.window, move.at, move.leftHeld);
  return false;
}

bool CTonalisDlg::onPointerRelease(const PointerRelease& release) {
  if (release.button == MouseButton::Left) releaseOnWindow(windowDrag_);
  return false;
}

bool CTonalisDlg::onPointerDoubleClick(const PointerDoubleClick& click) {
  if (click.button != MouseButton::Left) return false;
  releaseOnWindow(windowDrag_);
  const DisplayMode before = display.displayMode;
  onWindowDoubleClick(display, ports_.window, splashActive(), windowSize(), ports_.clock);
  stripFollowsWindow(before);
  return false;
}

void CTonalisDlg::onWindowModeCommand() {
  enterWindowMode(display, ports_.window, splashActive(), windowSize(), ports_.clock);
}

void CTonalisDlg::onDesktopModeCommand() {
  const DisplayMode before = display.displayMode;
  enterDesktopMode(display, ports_.window, splashActive());
  stripFollowsWindow(before);
}

void CTonalisDlg::onFullScreenModeCommand() {
  const DisplayMode before = display.displayMode;
  enterFullScreenMode(display, ports_.window, splashActive());
  stripFollowsWindow(before);
}

void CTonalisDlg::stripFollowsWindow(DisplayMode before) {
  // Only on leaving Window mode: between FullScreen and Desktop the strip stays where it is.
  if (before != DisplayMode::Window || display.displayMode == DisplayMode::Window) return;
  const std::vector<Monitor> monitors = ports_.host.monitors();
  if (monitors.empty()) return;
  frames_.screenChanged(monitorFor(monitors, ports_.window.windowRect()).area, display.fullScreenPosition);
}

void CTonalisDlg::onTopMostCommand() { toggleTopMost(display, ports_.window); }

void CTonalisDlg::onClickThroughCommand() { toggleClickThrough(display, ports_.window); }

void CTonalisDlg::onTransparencyCommand(const Command& command) {
  const int32_t mode = valueForCommand(TransparencyCommands, FirstTransparencyMode, command.id);
  selectTransparencyMode(display, ports_.window, splashActive(), mode);
}

void CTonalisDlg::onStyleCommand(const Command& command) {
  selectSpectrumStyle(display, valueForCommand(SpectrumStyleCommands, FirstSpectrumStyle, command.id));
}

void CTonalisDlg::onThemeCommand(const Command& command) {
  display.colorTheme = valueForCommand(ColorThemeCommands, FirstColorTheme, command.id);
  applyColorTheme(display.colorTheme);
}

void CTonalisDlg::onPositionCommand(const Command& command) {
  display.fullScreenPosition = valueForCommand(FullScreenPositionCommands, FirstFullScreenPosition, command.id);
  frames_.screenChanged(frames_.monitor(), display.fullScreenPosition);
}

// ---------------------------------------------------------------- board, about

void CTonalisDlg::onBoardCommand() { toggleBoard(board); }

void CTonalisDlg::onDeviceChange(const DeviceChange& change) { onBoardDeviceChange(board, change); }

void CTonalisDlg::onAboutCommand() {
  // Modal: its loop keeps dispatching this window's frame timer, so the spectrum animates.
  const std::unique_ptr<DialogHost> aboutHost = ports_.host.createDialogHost();
  CAboutDlg about(*aboutHost, ports_.shell);
  about.doModal();
}

// ---------------------------------------------------------------- exit

void CTonalisDlg::onExitCommand() { dispatch(CloseRequest{}); }

void CTonalisDlg::onClose() { shutDown(ExitPauseMillis, WorkerExitBoundMillis); }

void CTonalisDlg::onQueryEndSession(SessionQuery& query) {
  // The system may end the process at any moment from here on.
  if (!closing_) saveSettings(true);
  query.agree = true;
}

void CTonalisDlg::onEndSession(const SessionEnd& end) {
  if (end.ending) shutDown(0, SessionEndWorkerBoundMillis);
}

void CTonalisDlg::shutDown(uint32_t pauseMillis, uint32_t workerBoundMillis) {
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
  closeBoard(board);
  // Buffers go only once the worker is gone. A worker stuck in a device call is left
  // behind with the capture memory it may still touch; the program ends without it.
  if (worker_.join(workerBoundMillis)) releaseCapture(capture, ports_.sound);
  frames_.stop();
  endDialog(IdCancel);
  ports_.host.postQuit();
}


// ---------------------------------------------------------------- frames

void CTonalisDlg::onTimer(const TimerTick& tick) {
  if (closing_) return;
  if (tick.id == FrameTimerId) {
    onFrameTimer();
    // Each timer restarts the other one when the system refused it.
    if (!maintenanceTimerOn_) startTimers();
  } else if (tick.id == MaintenanceTimerId) {
    onMaintenanceTimer();
  }
}

void CTonalisDlg::startTimers() {
  if (frameTimerWanted_ && !frameTimerOn_) {
    frameTimerOn_ = ports_.host.setTimer(FrameTimerId, FramePeriodMillis);
  }
  if (!maintenanceTimerOn_) {
    maintenanceTimerOn_ = ports_.host.setTimer(MaintenanceTimerId, MaintenancePeriodMillis);
  }
}

void CTonalisDlg::onMaintenanceTimer() {
  ensureTrayIcon();
  startTimers();
  // Changes are kept as they are made, not only at exit: a crash or a power cut loses
  // nothing, and a folder that cannot be written is found while the user can act on it.
  if (!splashActive()) saveSettings(false);
}

void CTonalisDlg::setFrameTimerSlow(bool slow) {
  if (slow == frameTimerSlow_ || !frameTimerWanted_) return;
  frameTimerOn_ = ports_.host.setTimer(FrameTimerId, slow ? SettledFramePeriodMillis : FramePeriodMillis);
  frameTimerSlow_ = slow && frameTimerOn_;
  slowTickFrom_ = ports_.clock.tickCount();
  // The readout shows the frame time of the running picture, not of the settled one.
  frames_.restartMeter();
}

void CTonalisDlg::onSoundAfterSilence() {
  if (!closing_) setFrameTimerSlow(false);
}

void CTonalisDlg::onSessionLock(const SessionLock& lock) { sessionLocked_ = lock.locked; }

bool CTonalisDlg::seen() {
  return ports_.window.isVisible() && !ports_.host.isIconic() && !sessionLocked_;
}

void CTonalisDlg::onFrameTimer() {
  if (!frameTimerSlow_) frames_.timerTick();
  updateSourceTip();
  if (splashActive()) return;
  if (frameTimerSlow_) {
    // The silent frames this slow tick stands for, but the one it runs.
    const uint32_t now = ports_.clock.tickCount();
    const uint32_t frames = (now - slowTickFrom_) / FramePeriodMillis;
    slowTickFrom_ += frames * FramePeriodMillis;
    if (frames > 1) frames_.skipSilentFrames(frames - 1, display);
  }
  runFrame();
  setFrameTimerSlow(frames_.settled());
}

void CTonalisDlg::runFrame() {
  frames_.run({display, barColor, peakColor, board.connected != 0, splashActive(), uint32_t(frameDelayMillis_),
               splashActive() || seen()},
              capture.ring);
  runBoardStep(board, boardClock, frames_.boardClockMode(), frames_.boardLevels(), ports_.clock);
}

}  // namespace tonalis
