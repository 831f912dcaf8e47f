// The host the application runs in: its main loop on the UI thread, the events and timers
// that loop delivers, the screens, the main window's icon and state, and the About box.
// Each backend implements it over its own system (the Win32 message loop, GLib's main
// loop); the tests' fake runs a script of events.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/types.h"
#include "platform/events.h"

namespace tonalis {

struct AboutInfo;  // about/about_info.h

// The application's dispatch: true when a handler took the event (its answers, if any, in
// the event's fields); false leaves it to the system's default processing.
using EventHandler = std::function<bool(Event&)>;

class AppHost {
 public:
  virtual ~AppHost() = default;

  // Where every event goes from now on, on the UI thread (a message box shown during the
  // start already delivers them). An empty handler drops them.
  virtual void setHandler(EventHandler handler) = 0;
  // Queues `event` for the handler; delivered on the UI thread, in the order posted, once
  // the loop runs (or inside a message box's). Callable from any thread; dropped once the
  // main window is gone.
  virtual void post(const Event& event) = 0;
  // TimerTick{id} every `periodMillis` until killed; setting a running timer again restarts
  // it with the new period. Callable from any thread. False when the system has no timer to
  // give (from another thread: when the request could not be handed over).
  virtual bool setTimer(uint32_t id, uint32_t periodMillis) = 0;
  virtual void killTimer(uint32_t id) = 0;

  // The monitors as the system reports them now, the primary one among them; never cached,
  // the list changes with a display change.
  virtual std::vector<Monitor> monitors() = 0;
  // The program's icon on its main window (and wherever the system shows the window).
  virtual void setWindowIcon() = 0;
  // The main window is minimised: nothing of its picture can be seen.
  virtual bool isMinimized() = 0;

  // Creates the main window, hidden (the window port and the presenter work on it from
  // then on). False when the system refused.
  virtual bool createMainWindow() = 0;
  // Shows the main window (unless quit was asked for already) and runs the loop until quit;
  // the main window goes when it returns.
  virtual void run() = 0;
  // Ends the loop once the current event is handled; an About box open goes with it.
  virtual void quit() = 0;

  // The About box, in the system's own widgets, over the main window: the rows, the
  // picture, the link (blue, a hand over it; a click opens the page, or tells the address
  // when it cannot), and a button that closes it. The main window keeps animating behind.
  virtual void showAbout(const AboutInfo& info) = 0;
};

}  // namespace tonalis
