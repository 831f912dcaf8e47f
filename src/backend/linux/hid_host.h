// The board on Linux: hidapi (its hidraw backend) finds the interfaces, opens them and
// writes the reports. A hidraw write cannot be made non-blocking or cancelled: the kernel
// holds the caller until the device takes the report, refuses it or goes, and gives up on
// a device that does not answer only after its USB timeout (seconds), in an uninterruptible
// wait. So hid_write runs on one writer thread for the whole host, started when the first
// interface is opened; the caller waits for it only as long as it asked, and a write it
// stopped waiting for stays pending on its handle. Closing gives a pending write at most
// 500 ms more; one the kernel still holds then is left to the writer thread, which closes
// the device when the kernel lets go. Arrivals and removals come from a udev monitor on
// "hidraw" (HidMonitor), for the main loop to watch.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/hid_host.h"

struct udev;
struct udev_monitor;

namespace tonalis::lnx {

class LinuxHidHost final : public HidHost {
 public:
  LinuxHidHost();
  ~LinuxHidHost() override;  // closes whatever is still open (within the same bound)
  LinuxHidHost(const LinuxHidHost&) = delete;
  LinuxHidHost& operator=(const LinuxHidHost&) = delete;

  std::vector<std::string> find(uint16_t vendorId, uint16_t productId) override;
  HidHandle open(const std::string& path) override;
  HidWriteResult write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) override;
  void close(HidHandle handle) override;

 private:
  struct Device;  // an open interface and its pending write
  struct Writer;  // the writer thread and what it shares with the host

  std::shared_ptr<Writer> writer_;                   // from the first open
  std::map<int64_t, std::shared_ptr<Device>> open_;  // the caller's thread alone uses the map
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
  // The changes waiting, oldest first (paths are /dev/hidraw nodes); none when there is no
  // news.
  std::vector<DeviceChange> take();

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace tonalis::lnx
