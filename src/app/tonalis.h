// Tonalis: the application. It owns its parts (frame pipeline, settings, tray, capture
// worker, board link), handles the events the host delivers through its event table, runs
// the two timers and the commands, and keeps the order of the start and of the exit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "app/capture_worker.h"
#include "app/frame_pipeline.h"
#include "app/settings_file.h"
#include "app/settings_keeper.h"
#include "app/tray_controller.h"
#include "audio/capture.h"
#include "board/board_link.h"
#include "board/board_step.h"
#include "common/types.h"
#include "platform/app_host.h"
#include "platform/ports.h"
#include "render/assets.h"
#include "window/display_state.h"
#include "window/window_commands.h"

namespace tonalis {

// The ports the application talks through; the backend (or a test) provides them.
struct AppPorts {
  AppHost& host;
  WindowPort& window;
  Presenter& presenter;
  TrayPort& tray;
  SoundInput& sound;
  HidHost& hid;
  Clock& clock;
  Shell& shell;
  BitmapSource& bitmaps;
  FileStore& files;
  InstanceGuard& instance;
};

class Tonalis {
 public:
  static constexpr uint32_t FrameTimerId = 1;
  static constexpr uint32_t FramePeriodMillis = 28;
  // The frame timer's period once the picture has settled in a digital silence: sound
  // after it brings the 28 ms timer back at once (SoundAfterSilenceEvent).
  static constexpr uint32_t SettledFramePeriodMillis = 100;
  // While only the window's activity indicator turns, the timer wakes for its next picture,
  // at most this many frames ahead.
  static constexpr uint32_t MaxHeldFrames = 40;
  static constexpr uint32_t ExitPauseMillis = 1200;
  // After the pause, how long the exit waits for the worker to leave a device call before
  // it ends the program without it: the whole exit stays within 3 s.
  static constexpr uint32_t WorkerExitBoundMillis = 1500;
  // At the end of the session the system gives a program a few seconds in all.
  static constexpr uint32_t SessionEndWorkerBoundMillis = 500;
  // Timer 2, every second: keeps the tray icon, saves changed settings, restarts timer 1.
  static constexpr uint32_t MaintenanceTimerId = 2;
  static constexpr uint32_t MaintenancePeriodMillis = 1000;
  static constexpr std::string_view ProductName = "Tonalis";
  // The program's own notifications, posted by the capture worker: the splash is due (this
  // thread draws and presents it); the splash period is over.
  static constexpr uint32_t SplashShownEvent = 1;
  static constexpr uint32_t SplashEndedEvent = 2;
  // Posted by the capture worker: the first sound after a silence.
  static constexpr uint32_t SoundAfterSilenceEvent = 3;

  explicit Tonalis(AppPorts ports);
  ~Tonalis();  // the worker, if still running, is joined by its owner
  Tonalis(const Tonalis&) = delete;
  Tonalis& operator=(const Tonalis&) = delete;

  // The whole program: a second copy only asks the first to show itself; otherwise the
  // main window, the start, then the host's loop until the exit. Returns the process's exit code.
  int run();
  // The start alone (run's first half, once the main window is there): the host's handler, the settings, the capture, the
  // splash. False when the program must end at once (nothing to record with, or an exit
  // asked for meanwhile).
  bool start();

  // Routes one event through the table. True when handled; false means the system's
  // default processing.
  bool dispatch(Event& event);
  bool dispatch(Event&& event) { return dispatch(event); }

  // One frame: analysis, drawing, presentation, board step. Also run once, on the UI
  // thread, to present the splash when the worker says it is due.
  void runFrame();

  // True when the exit had to leave the worker inside a device call: the application must
  // then outlive it (the backend ends the process without destroying it).
  bool workerAbandoned() const { return worker_.abandoned(); }
  // The parts, for the tests that look inside them.
  const CaptureWorker& worker() const { return worker_; }
  FramePipeline& frames() { return frames_; }
  const DisplayState& display() const { return display_; }

 private:
  friend struct TonalisEvents;  // the event table

  // ---- Event and command handlers ----
  bool onPaint();
  bool onEraseBackground();
  bool onKey(const KeyPress& key);
  void onClose();
  void onExitCommand();
  void onTimer(const TimerTick& tick);
  void onFrameTimer();
  void onMaintenanceTimer();
  void onSplashShown();
  void onSplashEnded();
  void onSoundAfterSilence();
  // The session was locked or unlocked: nobody sees a locked desktop.
  void onSessionLock(const SessionLock& lock);
  void toggleWindowVisibility();
  // A right click on the tray icon: the menu, built afresh.
  void showTrayMenu();
  bool onPointerPress(const PointerPress& press);
  bool onPointerDoubleClick(const PointerDoubleClick& click);
  bool onPointerMove(const PointerMove& move);
  bool onPointerRelease(const PointerRelease& release);
  void onWindowModeCommand();
  void onDesktopModeCommand();
  void onFullScreenModeCommand();
  void onTopMostCommand();
  void onClickThroughCommand();
  void onTransparencyCommand(const Command& command);
  void onStyleCommand(const Command& command);
  void onThemeCommand(const Command& command);
  void onPositionCommand(const Command& command);
  // "声音来源": the default input, what is playing, or a device of the last menu shown.
  void onSourceCommand(const Command& command);
  void onBoardCommand();
  void onAboutCommand();
  // "画面延迟": what is drawn and sent to the board runs this far behind the sound.
  void onDelayCommand(const Command& command);
  // "开机启动": turns starting with the session on or off, as the system holds it now.
  void onStartWithSessionCommand();
  // A HID interface came or went.
  void onDeviceChange(const DeviceChange& change);
  // The session is ending: the query saves the settings and agrees; the end, when
  // `ending`, shuts down quickly.
  void onQueryEndSession(SessionQuery& query);
  void onEndSession(const SessionEnd& end);
  // The shell restarted and forgot the tray icons.
  void onShellRestarted();
  // The screens changed (resolution, primary monitor, rotation, work area).
  void onDisplayChange();
  bool onScaleChange(const ScaleChange& change);
  // The window takes the scale of `percent` (its monitor's): frames, size, drag distance.
  // `to`: where the window goes in Window mode (empty: it keeps its top-left corner).
  void applyWindowScale(int32_t percent, const Rect& to);
  // A second copy of the program was started: show this one's window.
  void onSecondInstance();

  void loadSettings(const StoredSettings& stored);
  // Writes the settings when they were read (or set) and, unless `always`, differ from
  // the file's; never over a file that could not be read. False when the file could not
  // be written.
  bool saveSettings(bool always);
  void tellNotices();
  void ensureTrayIcon();
  void startTimers();
  void setFramePeriod(uint32_t millis);
  void catchUpSilentFrames(uint32_t keep = 0);
  bool seen();
  bool splashActive() const { return worker_.splashActive(); }
  void keepDesktopAtBottom();
  void keepWindowOnScreen(std::span<const Monitor> monitors);
  // After a mode command: a strip mode entered from Window mode goes to the monitor the
  // window is on.
  void stripFollowsWindow(DisplayMode before);
  void shutDown(uint32_t pauseMillis, uint32_t workerBoundMillis);
  void applyColorTheme(int32_t theme);
  Point windowSize() const { return frames_.windowSize(); }

  AppPorts ports_;
  AssetStore assets_;
  Rgb barColor_ = 0xFFFFFF;
  Rgb peakColor_ = 0xFF0000;
  DisplayState display_;            // display mode, style, theme, transparency, stacking, position
  CaptureContext capture_;          // sample ring, latestBlock, capture stage and release count
  BoardLink board_;
  BoardClock boardClock_;
  WindowDrag windowDrag_;
  bool closing_ = false;            // the exit (or the session's end) has begun
  SettingsKeeper settings_{ports_.files};
  TrayController tray_{ports_.tray, ports_.sound, ports_.shell, capture_};
  FramePipeline frames_{ports_.presenter, ports_.clock};
  // Last: it goes first, so a worker still running is joined before what it touches.
  CaptureWorker worker_{ports_.host, ports_.sound, ports_.clock, capture_};
  bool settingsApplied_ = false;    // the record holds the file's values: only then are they saved
  int32_t frameDelayMillis_ = 0;    // one of FrameDelays
  bool frameTimerWanted_ = false;
  bool frameTimerOn_ = false;
  uint32_t framePeriod_ = FramePeriodMillis;  // longer in a silence that holds the picture
  uint32_t slowTickFrom_ = 0;       // while slow: the frames' time is counted from here
  bool sessionLocked_ = false;
  bool maintenanceTimerOn_ = false;
  std::vector<Monitor> monitorsSeen_;  // the monitors as the last display change found them
};

}  // namespace tonalis
