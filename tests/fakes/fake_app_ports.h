// Fakes of the application's ports: a host that runs the application from a script of
// events, an in-memory presenter, a tray, a clock with manual time, and a shell.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "fakes/call_log.h"
#include "about/about_info.h"
#include "platform/app_host.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/instance_guard.h"
#include "platform/presenter.h"
#include "platform/shell.h"
#include "platform/tray_port.h"
#include "render/assets.h"

namespace tonalis::fakes {

// A short name of an event's kind, for logs and test traces ("Command 32782").
std::string eventName(const Event& event);

// The host without a window system: events are handed to the application's handler from
// a script (`queue`) and from what is posted, by pump(), until quit or until the queue is
// empty and `idle` returns false.
class FakeAppHost : public AppHost {
 public:
  explicit FakeAppHost(CallLog& log) : log_(log) {}

  std::deque<Event> queue;                    // delivered in order by pump
  std::function<bool()> idle;                 // called when the queue is empty; true = keep running
  std::map<uint32_t, uint32_t> timers;        // live timers: id -> period
  std::set<uint32_t> refuseTimers;            // setTimer for these ids fails
  Point screen{1920, 1080};
  // The monitors; empty: one primary monitor of `screen` size at the origin, all of it work area.
  std::vector<Monitor> displays;
  bool minimized = false;
  bool quitAsked = false;
  bool running = false;                       // inside run()
  int defaultCalls = 0;                       // events left to the system
  std::vector<std::string> aboutShown;        // the program name of every About box shown

  void setHandler(EventHandler handler) override;
  void post(const Event& event) override;
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override;
  std::vector<Monitor> monitors() override;
  bool createMainWindow() override;
  void setWindowIcon() override;
  bool isMinimized() override { return minimized; }
  void run() override;  // pump, as the loop would
  void quit() override;
  void showAbout(const AboutInfo& info) override;

  // Delivers the queued and posted events until quit, or until nothing is waiting and
  // `idle` says stop.
  void pump();
  // Delivers one event as the loop and the window procedure would: what the handler does
  // not take goes to default processing. True when the application handled it.
  bool deliver(Event event);
  bool hasHandler() const { return bool(handler_); }

 private:
  CallLog& log_;
  EventHandler handler_;
  std::mutex postedMutex_;
  std::deque<Event> posted_;
};

class FakePresenter : public Presenter {
 public:
  explicit FakePresenter(CallLog& log) : log_(log) {}
  struct Presentation {
    const uint32_t* source;
    std::optional<Point> destination;
    Point size;
    uint8_t alpha;
    Surface surface;
    size_t changedCount;           // rectangles sent as changed
    Rect changedBounds;            // and the box around them
    std::vector<uint32_t> pixels;  // copy of the presented area (when keepPixels)
  };
  bool keepPixels = false;
  bool logPresents = true;   // off for tests that count allocations
  std::vector<Presentation> presentations;
  int liveBuffers() const { return int(buffers_.size()); }

  PixelView createBuffer(int32_t width, int32_t height) override;
  void releaseBuffer(PixelView& buffer) override;
  void present(const tonalis::Presentation& frame) override;
  bool paintsWindow() override { return painted; }
  bool repaint() override;
  bool painted = false;  // what paintsWindow answers

 private:
  CallLog& log_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<std::vector<uint32_t>>> buffers_;
};

class FakeTray : public TrayPort {
 public:
  explicit FakeTray(CallLog& log) : log_(log) {}
  bool present = false;
  std::string tip;                            // as added or last set
  std::vector<std::vector<MenuItem>> menus;   // every tracked menu
  std::optional<uint32_t> chooseCommand;      // posted as a Command after tracking
  AppHost* host = nullptr;
  int refuseAdds = 0;                         // this many adds fail (the shell not ready)
  std::vector<std::pair<std::string, std::string>> balloons;  // title, text

  bool addIcon(uint32_t iconId, std::string_view tip) override;
  void removeIcon() override;
  void setTip(std::string_view tip) override;
  void showBalloon(std::string_view title, std::string_view text) override;
  void trackMenu(const std::vector<MenuItem>& items) override;

 private:
  CallLog& log_;
};

// Manual time: sleeping advances the tick count at once (optionally really sleeping a
// little so another thread can run).
class FakeClock : public Clock {
 public:
  explicit FakeClock(CallLog& log) : log_(log) {}
  std::atomic<uint32_t> tick{1000};
  LocalTime time{9, 5};
  // Atomics: a test changes them while the worker sleeps on this clock.
  std::atomic<bool> logSleeps{true};
  std::atomic<bool> advanceOnSleep{true};  // off: time moves only when the test moves it
  std::atomic<uint32_t> realSleepMicros{200};

  uint32_t tickCount() override { return tick; }
  LocalTime localTime() override { return time; }
  void sleepMillis(uint32_t ms) override;

 private:
  CallLog& log_;
};

class FakeShell : public Shell {
 public:
  explicit FakeShell(CallLog& log) : log_(log) {}
  std::vector<std::string> messages;
  std::vector<std::string> opened;
  void showMessage(std::string_view utf8Text) override;
  bool openUrl(std::string_view url) override;
  bool startsWithSession() override { return startup; }
  bool setStartWithSession(bool on) override;
  bool openFails = false;
  bool startup = false;        // what the system says now (a test may change it behind the program's back)
  bool startupFails = false;   // setStartWithSession cannot write
  // Runs inside showMessage, as the modal box's own message loop would run other messages.
  std::function<void()> whileMessageShown;

 private:
  CallLog& log_;
};

// Files in memory; replace keeps the old bytes when told to fail (a read-only folder). A
// name in `unreadable` is there but cannot be read (another program holds it).
class FakeFileStore : public FileStore {
 public:
  explicit FakeFileStore(CallLog& log) : log_(log) {}
  std::map<std::string, std::string> files;
  std::set<std::string> unreadable;
  bool failReplace = false;
  std::string folderName = "C:\\Tonalis";

  FileReadResult read(std::string_view name, size_t maxBytes) override;
  bool replace(std::string_view name, std::string_view bytes) override;
  std::string folder() override { return folderName; }
  std::string path(std::string_view name) override { return folderName + "\\" + std::string(name); }

 private:
  CallLog& log_;
  std::mutex mutex_;
};

class FakeInstanceGuard : public InstanceGuard {
 public:
  explicit FakeInstanceGuard(CallLog& log) : log_(log) {}
  bool othersRunning = false;
  bool claim() override;
  void wakeFirst() override;

 private:
  CallLog& log_;
};

// Serves bitmaps made in memory: a solid image of the given size per id.
class FakeBitmapSource : public BitmapSource {
 public:
  std::span<const uint8_t> bitmapBytes(int id) override;
  // Registers a 24-bit .bmp of one colour (0x00RRGGBB) for `id`.
  void add(int id, int width, int height, uint32_t rgb);

 private:
  std::map<int, std::vector<uint8_t>> files_;
};

}  // namespace tonalis::fakes
