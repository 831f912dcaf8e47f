// A scripted HID host: a list of present interfaces, a switch for how the device takes
// reports, and a log of every call in order. Waiting is simulated: the fake returns at once
// and adds the time a real host would have waited to `waitedMillis`. Pending writes follow
// the port's rules, so a test sees what a caller would see from a real host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/hid_host.h"

namespace tonalis {

struct FakeHidInterface {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool idsReadable = true;  // false: the system lists it but its ids cannot be read yet
  bool openOk = true;
};

enum class FakeWriteMode {
  Complete,  // the device takes every report at once
  Fail,      // every write fails at once (board gone, handle dead)
  Hang,      // writes stay pending until finishPendingWrites()
};

// A report the host started writing, with what write() answered for it.
struct FakeWrite {
  int64_t handle = -1;
  std::vector<uint8_t> bytes;
  HidWriteResult result = HidWriteResult::Failed;
};

class FakeHidHost final : public HidHost {
 public:
  // --- script ---
  std::vector<FakeHidInterface> interfaces;
  FakeWriteMode writeMode = FakeWriteMode::Complete;

  // --- record ---
  // "find 0483:f222", "open <path>", "write <h>", "write <h> busy" (dropped: an earlier write
  // is pending), "cancel <h>" (close of a handle with a pending write), "close <h>"
  std::vector<std::string> calls;
  std::vector<FakeWrite> writes;    // every report started, in order
  std::vector<std::string> misuse;  // broken contract: close of a handle that is not open, ...
  uint64_t waitedMillis = 0;        // simulated time spent waiting

  // Every pending write ends: the board took it, or the driver failed it (the port does not
  // say which; the next write starts either way).
  void finishPendingWrites();
  // The interface is no longer present; from now on writes behave as `writesAfter`.
  void unplug(const std::string& path, FakeWriteMode writesAfter);

  int openHandleCount() const { return int(open_.size()); }
  bool writePending(HidHandle h) const;
  void clearLog() { calls.clear(); writes.clear(); }

  std::vector<std::string> find(uint16_t vendorId, uint16_t productId) override;
  HidHandle open(const std::string& path) override;
  HidWriteResult write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) override;
  void close(HidHandle handle) override;

 private:
  struct OpenFile {
    std::string path;
    bool pending = false;
    bool finished = false;  // the pending write is over; the next write sees it
  };
  const FakeHidInterface* findInterface(const std::string& path) const;

  std::map<int64_t, OpenFile> open_;
  int64_t nextHandle_ = 100;
};

}  // namespace tonalis
