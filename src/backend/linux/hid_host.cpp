#include "backend/linux/hid_host.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace tonalis::lnx {

namespace {

// The longest close() gives a pending write before leaving it to the writer thread (the
// board's own write timeout).
constexpr auto AbandonAfter = std::chrono::milliseconds(500);

}  // namespace

struct LinuxHidHost::Device {
  enum class State { Idle, Queued, Writing };

  hid_device* hid = nullptr;
  // Below here, under the writer's mutex.
  State state = State::Idle;
  std::vector<uint8_t> report;  // the pending report; the writer thread's while Writing
  bool failed = false;          // how the last write ended
  bool abandoned = false;       // closed while Writing: the writer thread closes it
};

// One thread writes for every handle, one report at a time. It owns a reference to this
// record, so a host that goes while a write is still in the kernel leaves the thread to end
// by itself.
struct LinuxHidHost::Writer {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Device>> queue;  // Queued devices, oldest first
  bool writing = false;                       // a hid_write is in the kernel
  bool stopping = false;
  std::thread thread;

  static std::shared_ptr<Writer> start() {
    auto writer = std::make_shared<Writer>();
    writer->thread = std::thread([self = writer] { self->run(); });
    return writer;
  }

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || !queue.empty(); });
      if (stopping) return;  // everything was closed first: nothing is queued
      std::shared_ptr<Device> device = std::move(queue.front());
      queue.pop_front();
      device->state = Device::State::Writing;
      writing = true;
      lock.unlock();
      const int n = hid_write(device->hid, device->report.data(), device->report.size());
      lock.lock();
      writing = false;
      device->failed = n != int(device->report.size());
      device->state = Device::State::Idle;
      if (device->abandoned) {
        hid_close(device->hid);
        device->hid = nullptr;
      }
      changed.notify_all();
    }
  }
};

LinuxHidHost::LinuxHidHost() : hidapiReady_(hid_init() == 0) {}

LinuxHidHost::~LinuxHidHost() {
  while (!open_.empty()) close(HidHandle{open_.begin()->first});
  bool leftBehind = false;
  if (writer_) {
    {
      std::lock_guard lock(writer_->mutex);
      writer_->stopping = true;
      leftBehind = writer_->writing;
      writer_->changed.notify_all();
    }
    if (leftBehind) {
      writer_->thread.detach();  // it closes its device and ends once the kernel lets go
    } else {
      writer_->thread.join();
    }
  }
  if (hidapiReady_ && !leftBehind) hid_exit();
}

std::vector<std::string> LinuxHidHost::find(uint16_t vendorId, uint16_t productId) {
  std::vector<std::string> paths;
  if (!hidapiReady_) return paths;
  hid_device_info* all = hid_enumerate(vendorId, productId);
  for (hid_device_info* d = all; d; d = d->next) {
    if (d->path && *d->path) paths.emplace_back(d->path);
  }
  hid_free_enumeration(all);
  return paths;
}

HidHandle LinuxHidHost::open(const std::string& path) {
  if (!hidapiReady_ || path.empty()) return InvalidHidHandle;
  hid_device* hid = hid_open_path(path.c_str());
  if (!hid) return InvalidHidHandle;
  if (!writer_) writer_ = Writer::start();
  auto device = std::make_shared<Device>();
  device->hid = hid;
  const int64_t value = nextHandle_++;
  open_[value] = std::move(device);
  return HidHandle{value};
}

HidWriteResult LinuxHidHost::write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) {
  const auto it = open_.find(handle.value);
  if (it == open_.end() || report.empty()) return HidWriteResult::Failed;
  const std::shared_ptr<Device>& device = it->second;
  std::unique_lock lock(writer_->mutex);
  // A board that stopped taking reports must not cost every frame the full timeout: while
  // the last write is pending, only look.
  if (device->state != Device::State::Idle) return HidWriteResult::Busy;
  device->report.assign(report.begin(), report.end());
  device->state = Device::State::Queued;
  writer_->queue.push_back(device);
  writer_->changed.notify_all();
  // A device that is gone or refuses the report fails in the kernel at once, so this ends
  // at once too.
  if (!writer_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return device->state == Device::State::Idle; })) {
    return HidWriteResult::Busy;
  }
  return device->failed ? HidWriteResult::Failed : HidWriteResult::Done;
}

void LinuxHidHost::close(HidHandle handle) {
  const auto it = open_.find(handle.value);
  if (it == open_.end()) return;
  const std::shared_ptr<Device> device = std::move(it->second);
  open_.erase(it);
  {
    std::unique_lock lock(writer_->mutex);
    if (device->state == Device::State::Queued) {  // never reached the kernel: just drop it
      std::erase(writer_->queue, device);
      device->state = Device::State::Idle;
    }
    if (device->state == Device::State::Writing &&
        !writer_->changed.wait_for(lock, AbandonAfter, [&] { return device->state == Device::State::Idle; })) {
      device->abandoned = true;
      return;
    }
  }
  hid_close(device->hid);
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

std::vector<DeviceChange> HidMonitor::take() {
  std::vector<DeviceChange> changes;
  if (!monitor_) return changes;
  const int fd = udev_monitor_get_fd(monitor_);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    DeviceChange change;
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    if (action && std::strcmp(action, "add") == 0) change.kind = DeviceChange::Kind::Arrived;
    if (action && std::strcmp(action, "remove") == 0) change.kind = DeviceChange::Kind::Removed;
    change.path = node ? node : "";
    changes.push_back(std::move(change));
    udev_device_unref(device);
  }
  return changes;
}

}  // namespace tonalis::lnx
