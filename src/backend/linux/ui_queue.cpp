#include "backend/linux/ui_queue.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

namespace tonalis::lnx {

struct LinuxUiQueue::Mailbox {
  std::mutex mutex;
  LinuxUiQueue* queue = nullptr;  // null once the queue is gone
  bool open = false;
  std::deque<Event> posted;
  std::deque<std::pair<uint32_t, uint32_t>> timers;  // asked for from other threads
  bool wakeQueued = false;

  // Called with the mutex held: one idle callback drains whatever is queued by then.
  void wake(const std::shared_ptr<Mailbox>& self) {
    if (wakeQueued) return;
    wakeQueued = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, drain, new std::shared_ptr<Mailbox>(self),
                    [](gpointer p) { delete static_cast<std::shared_ptr<Mailbox>*>(p); });
  }
};

struct LinuxUiQueue::TimerSource {
  LinuxUiQueue* queue;
  uint32_t id;
};

LinuxUiQueue::LinuxUiQueue(std::function<void(Event&)> deliver)
    : deliver_(std::move(deliver)), uiThread_(std::this_thread::get_id()), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->queue = this;
}

LinuxUiQueue::~LinuxUiQueue() {
  close();
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->queue = nullptr;
}

void LinuxUiQueue::open() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->open = true;
}

void LinuxUiQueue::close() {
  {
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->open = false;
    mailbox_->posted.clear();
    mailbox_->timers.clear();
  }
  for (const auto& [id, source] : timers_) g_source_remove(source);
  timers_.clear();
}

void LinuxUiQueue::post(const Event& event) {
  std::lock_guard lock(mailbox_->mutex);
  if (!mailbox_->open) return;
  mailbox_->posted.push_back(event);
  mailbox_->wake(mailbox_);
}

void LinuxUiQueue::setTimer(uint32_t id, uint32_t periodMillis) {
  if (onUiThread()) {
    startTimer(id, periodMillis);
    return;
  }
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->timers.emplace_back(id, periodMillis);
  mailbox_->wake(mailbox_);
}

void LinuxUiQueue::startTimer(uint32_t id, uint32_t periodMillis) {
  killTimer(id);
  auto* tick = new TimerSource{this, id};
  timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, std::max<uint32_t>(periodMillis, 1), onTimer, tick,
                                   [](gpointer p) { delete static_cast<TimerSource*>(p); });
}

void LinuxUiQueue::killTimer(uint32_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second);
  timers_.erase(it);
}

gboolean LinuxUiQueue::onTimer(gpointer data) {
  const auto* tick = static_cast<TimerSource*>(data);
  Event event = TimerTick{tick->id};
  tick->queue->deliver_(event);
  return G_SOURCE_CONTINUE;
}

gboolean LinuxUiQueue::drain(gpointer data) {
  const std::shared_ptr<Mailbox> box = *static_cast<std::shared_ptr<Mailbox>*>(data);
  std::deque<std::pair<uint32_t, uint32_t>> timers;
  LinuxUiQueue* queue;
  {
    std::lock_guard lock(box->mutex);
    box->wakeQueued = false;
    timers.swap(box->timers);
    queue = box->queue;
  }
  if (!queue) return G_SOURCE_REMOVE;
  for (const auto& [id, period] : timers) queue->startTimer(id, period);
  // One at a time: an event may close the queue, and the rest are dropped then.
  for (;;) {
    Event event;
    {
      std::lock_guard lock(box->mutex);
      if (!box->queue || !box->open || box->posted.empty()) return G_SOURCE_REMOVE;
      event = std::move(box->posted.front());
      box->posted.pop_front();
    }
    queue->deliver_(event);
  }
}

}  // namespace tonalis::lnx
