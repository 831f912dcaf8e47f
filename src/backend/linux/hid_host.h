// The board on Linux: hidapi (its hidraw backend) lists the HID interfaces and their ids;
// reports are written straight to the interface's /dev/hidraw node. A hidraw write blocks
// until the device takes the report (the kernel gives up after seconds), so each write
// handle writes on a thread of its own and the caller waits only as long as it asked: the
// overlapped write of the Windows side. Cancelling or closing waits no longer than a write's
// timeout: a write the kernel still holds then is left to end on its thread, which owns the
// report and the node until it does. Arrivals and removals come from a udev monitor on
// "hidraw" (HidMonitor), for the main loop to watch.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid_host.h"

struct udev;
struct udev_monitor;

namespace tonalis::lnx {

class LinuxHidHost final : public HidHost {
 public:
  LinuxHidHost();
  ~LinuxHidHost() override;  // closes whatever is still open
  LinuxHidHost(const LinuxHidHost&) = delete;
  LinuxHidHost& operator=(const LinuxHidHost&) = delete;

  HidEnumStatus enumerateInterfaces(std::vector<std::string>& paths) override;
  bool readIds(const std::string& path, HidIds& ids) override;
  HidHandle openForRead(const std::string& path) override;
  HidHandle openForWrite(const std::string& path) override;
  HidWriteResult write(HidHandle handle, const uint8_t* bytes, size_t size, uint32_t timeoutMs) override;
  HidWriteResult waitWrite(HidHandle handle, uint32_t timeoutMs) override;
  void cancelWrite(HidHandle handle) override;
  void close(HidHandle handle) override;

 private:
  struct Writer;  // one open node and its write thread
  std::shared_ptr<Writer> find(HidHandle handle);
  HidHandle open(const std::string& path, int flags);

  std::mutex mutex_;
  std::map<int64_t, std::shared_ptr<Writer>> open_;
  int64_t nextHandle_ = 1;
  bool hidapiReady_ = false;
};

// HID interfaces coming and going, from udev. The descriptor becomes readable when there
// is news; take() reads it (without blocking) as the Windows device notifications read.
class HidMonitor {
 public:
  HidMonitor();
  ~HidMonitor();
  HidMonitor(const HidMonitor&) = delete;
  HidMonitor& operator=(const HidMonitor&) = delete;

  int descriptor() const;  // -1 when udev could not be reached
  struct Change {
    HidDeviceEvent event = HidDeviceEvent::Other;
    std::string path;  // the /dev/hidraw node
  };
  // The changes waiting, oldest first; none when there is no news.
  std::vector<Change> take();

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace tonalis::lnx
