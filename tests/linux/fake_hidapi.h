// The hidapi calls the Linux HID host makes, answered by a scripted stand-in linked into the
// Linux tests in place of the library (there is no hidraw node to open here, and the real
// hid_open_path of hidapi 0.13 crashes on a node that is not one). Like a hidraw write,
// hid_write holds its caller until the device takes the report, refuses it or goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tonalis::lnx {

struct FakeHidrawNode {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

struct FakeHidapi {
  std::mutex mutex;
  std::condition_variable changed;

  // --- script ---
  std::vector<FakeHidrawNode> nodes;  // what hid_enumerate lists, in order
  bool holding = false;               // the device does not take reports (writes block)
  bool refusing = false;              // the device refuses every report at once
  bool gone = false;                  // unplugged: writes fail, a blocked one at once

  // --- record ---
  std::vector<std::vector<uint8_t>> taken;  // reports the device took, in order
  int openDevices = 0;                      // opened and not yet closed
  int writesInKernel = 0;                   // hid_write calls not yet returned

  // Resets the script and the record (between tests).
  void reset();
  // Sets `holding`, `refusing` or `gone` under the lock and wakes a blocked write.
  void set(bool FakeHidapi::*flag, bool value);
  // Waits up to `ms` for `done` (called under the lock); false on timeout.
  template <class Pred>
  bool waitFor(int ms, Pred done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), done);
  }
};

FakeHidapi& fakeHidapi();

}  // namespace tonalis::lnx
