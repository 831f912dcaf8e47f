// The UI thread's queue on GLib's main context: events posted from any thread, delivered in
// order, and timers, started from any thread, that tick on the UI thread. What it delivers
// goes to one function (the host's dispatch). Closed, it drops what is posted and stops its
// timers, as a window that is gone hears nothing.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "platform/events.h"

namespace tonalis::lnx {

class LinuxUiQueue {
 public:
  // Made on the UI thread; `deliver` is called there.
  explicit LinuxUiQueue(std::function<void(Event&)> deliver);
  ~LinuxUiQueue();
  LinuxUiQueue(const LinuxUiQueue&) = delete;
  LinuxUiQueue& operator=(const LinuxUiQueue&) = delete;

  // Posted events are kept only while the queue is open.
  void open();
  void close();
  // Any thread.
  void post(const Event& event);
  // Any thread; the period restarts when the timer is set again.
  void setTimer(uint32_t id, uint32_t periodMillis);
  // UI thread.
  void killTimer(uint32_t id);

 private:
  struct Mailbox;  // what other threads hand over; outlives the queue while a wake-up is pending
  struct TimerSource;
  void startTimer(uint32_t id, uint32_t periodMillis);
  static gboolean drain(gpointer mailbox);
  static gboolean onTimer(gpointer data);
  bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }

  std::function<void(Event&)> deliver_;
  std::thread::id uiThread_;
  std::shared_ptr<Mailbox> mailbox_;
  std::map<uint32_t, guint> timers_;  // timer id -> GLib source
};

}  // namespace tonalis::lnx
