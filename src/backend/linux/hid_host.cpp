#include "backend/linux/hid_host.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tonalis::lnx {

namespace {

// The longest the caller's thread waits for a write it gives up on (the board's own write
// timeout); a write still in the kernel after that is left to finish on its thread.
constexpr auto AbandonAfter = std::chrono::milliseconds(500);

}  // namespace

// The node and the write in flight on it. The thread runs one write at a time; the caller
// waits on `done` as long as it asked. The thread shares the writer, so a write given up on
// keeps its node and its bytes until it ends; the last owner closes the node.
struct LinuxHidHost::Writer {
  int fd = -1;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint8_t> report;
  bool pending = false;  // a write was started and has not finished
  bool failed = false;   // how the last one finished
  bool stopping = false;
  std::thread thread;

  ~Writer() {
    if (fd >= 0) ::close(fd);
  }

  static std::shared_ptr<Writer> start(int fd) {
    auto writer = std::make_shared<Writer>();
    writer->fd = fd;
    writer->thread = std::thread([self = writer] { self->run(); });
    return writer;
  }

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || (pending && !report.empty()); });
      if (stopping) return;
      std::vector<uint8_t> bytes;
      bytes.swap(report);
      lock.unlock();
      ssize_t n;
      do {
        n = ::write(fd, bytes.data(), bytes.size());
      } while (n < 0 && errno == EINTR);
      lock.lock();
      failed = n != ssize_t(bytes.size());
      pending = false;
      changed.notify_all();
    }
  }

  // With the lock held: waits up to `timeoutMs` for the write in flight.
  HidWriteResult await(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs) {
    if (!changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pending; })) {
      return HidWriteResult::TimedOut;
    }
    return failed ? HidWriteResult::Failed : HidWriteResult::Done;
  }

  // Waits up to `wait` for the write in flight, then ends the thread: joined when the
  // write is over, otherwise left to end by itself once the kernel lets the write go.
  void stop(std::chrono::milliseconds wait) {
    bool over;
    {
      std::unique_lock lock(mutex);
      over = changed.wait_for(lock, wait, [&] { return !pending; });
      stopping = true;
      changed.notify_all();
    }
    if (over) {
      thread.join();
    } else {
      thread.detach();
    }
  }
};

LinuxHidHost::LinuxHidHost() : hidapiReady_(hid_init() == 0) {}

LinuxHidHost::~LinuxHidHost() {
  std::vector<int64_t> handles;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [value, writer] : open_) handles.push_back(value);
  }
  for (int64_t value : handles) close(HidHandle{value});
  if (hidapiReady_) hid_exit();
}

HidEnumStatus LinuxHidHost::enumerateInterfaces(std::vector<std::string>& paths) {
  if (!hidapiReady_) return HidEnumStatus::Complete;
  hid_device_info* all = hid_enumerate(0, 0);
  for (hid_device_info* d = all; d; d = d->next) paths.emplace_back(d->path ? d->path : "");
  hid_free_enumeration(all);
  return HidEnumStatus::Complete;
}

bool LinuxHidHost::readIds(const std::string& path, HidIds& ids) {
  if (!hidapiReady_ || path.empty()) return false;
  hid_device_info* all = hid_enumerate(0, 0);
  bool found = false;
  for (hid_device_info* d = all; d && !found; d = d->next) {
    if (d->path && path == d->path) {
      ids = {d->vendor_id, d->product_id};
      found = true;
    }
  }
  hid_free_enumeration(all);
  return found;
}

HidHandle LinuxHidHost::open(const std::string& path, int flags) {
  if (path.empty()) return InvalidHidHandle;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return InvalidHidHandle;
  auto writer = Writer::start(fd);
  std::lock_guard lock(mutex_);
  const int64_t value = nextHandle_++;
  open_[value] = std::move(writer);
  return HidHandle{value};
}

HidHandle LinuxHidHost::openForRead(const std::string& path) { return open(path, O_RDONLY); }
HidHandle LinuxHidHost::openForWrite(const std::string& path) { return open(path, O_WRONLY); }

std::shared_ptr<LinuxHidHost::Writer> LinuxHidHost::find(HidHandle handle) {
  std::lock_guard lock(mutex_);
  const auto it = open_.find(handle.value);
  return it == open_.end() ? nullptr : it->second;
}

HidWriteResult LinuxHidHost::write(HidHandle handle, const uint8_t* bytes, size_t size, uint32_t timeoutMs) {
  const auto writer = find(handle);
  if (!writer || !bytes || size == 0) return HidWriteResult::Failed;
  std::unique_lock lock(writer->mutex);
  if (writer->pending) return HidWriteResult::Failed;  // the caller broke the one-slot rule
  writer->report.assign(bytes, bytes + size);
  writer->pending = true;
  writer->changed.notify_all();
  return writer->await(lock, timeoutMs);
}

HidWriteResult LinuxHidHost::waitWrite(HidHandle handle, uint32_t timeoutMs) {
  const auto writer = find(handle);
  if (!writer) return HidWriteResult::Done;
  std::unique_lock lock(writer->mutex);
  if (!writer->pending) return HidWriteResult::Done;
  return writer->await(lock, timeoutMs);
}

// A blocking hidraw write cannot be called back; the kernel ends it within its own USB
// timeout (or at once when the device goes), which may be seconds. So cancelling waits no
// longer than a write's timeout: a write still in the kernel then is left to its thread
// with its own copy of the node, and the handle goes on with a new writer on a duplicate,
// its slot free.
void LinuxHidHost::cancelWrite(HidHandle handle) {
  const auto writer = find(handle);
  if (!writer) return;
  {
    std::unique_lock lock(writer->mutex);
    if (writer->changed.wait_for(lock, AbandonAfter, [&] { return !writer->pending; })) return;
  }
  // A failed duplicate leaves a writer whose writes fail at once.
  auto fresh = Writer::start(::fcntl(writer->fd, F_DUPFD_CLOEXEC, 0));
  {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(handle.value);
    if (it != open_.end() && it->second == writer) it->second = std::move(fresh);
  }
  if (fresh) fresh->stop(AbandonAfter);  // the handle was closed meanwhile: nothing runs on it
  writer->stop(std::chrono::milliseconds(0));
}

void LinuxHidHost::close(HidHandle handle) {
  std::shared_ptr<Writer> writer;
  {
    std::lock_guard lock(mutex_);
    const auto it = open_.find(handle.value);
    if (it == open_.end()) return;
    writer = std::move(it->second);
    open_.erase(it);
  }
  writer->stop(AbandonAfter);
}

HidMonitor::HidMonitor() {
  udev_ = udev_new();
  if (!udev_) return;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    if (monitor_) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }
}

HidMonitor::~HidMonitor() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

int HidMonitor::descriptor() const { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

std::vector<HidMonitor::Change> HidMonitor::take() {
  std::vector<Change> changes;
  if (!monitor_) return changes;
  const int fd = udev_monitor_get_fd(monitor_);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    Change change;
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    if (action && std::strcmp(action, "add") == 0) change.event = HidDeviceEvent::Arrival;
    if (action && std::strcmp(action, "remove") == 0) change.event = HidDeviceEvent::RemoveComplete;
    change.path = node ? node : "";
    changes.push_back(std::move(change));
    udev_device_unref(device);
  }
  return changes;
}

}  // namespace tonalis::lnx
