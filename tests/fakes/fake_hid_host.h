// A scripted HID host: a list of present interfaces, a switch for how writes behave, and a
// log of every call in order. Waiting is simulated: the fake returns at once and adds the
// time a real host would have waited to `waitedMillis`.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/hid_host.h"

namespace tonalis {

struct FakeHidInterface {
  std::string path;  // empty: details cannot be read
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool idsReadable = true;
  bool openReadOk = true;
  bool openWriteOk = true;
};

enum class FakeWriteMode {
  Complete,  // every write completes at once
  Fail,      // every write fails at once (board gone, handle dead)
  Hang,      // writes stay outstanding until finishOutstandingWrites()
};

struct FakeWrite {
  int64_t handle = -1;
  std::vector<uint8_t> bytes;
  HidWriteResult result = HidWriteResult::Failed;
};

class FakeHidHost final : public HidHost {
 public:
  // --- script ---
  std::vector<FakeHidInterface> interfaces;
  int outOfMemoryAt = -1;  // enumeration runs out of memory at this index (-1: never)
  FakeWriteMode writeMode = FakeWriteMode::Complete;

  // --- record ---
  // "enumerate", "readIds <path>", "openRead <path>", "openWrite <path>", "write <h>",
  // "wait <h> <ms>", "cancel <h>", "close <h>"
  std::vector<std::string> calls;
  std::vector<FakeWrite> writes;     // every write started, with its immediate result
  std::vector<std::string> misuse;   // broken contract: write on a busy slot, bad close, ...
  uint64_t waitedMillis = 0;         // simulated time spent waiting

  // The board takes (or, with Failed, the driver fails) every outstanding write.
  void finishOutstandingWrites(HidWriteResult result = HidWriteResult::Done);
  // The interface is no longer present; from now on writes behave as `writes`.
  void unplug(const std::string& path, FakeWriteMode writesAfter);

  int openHandleCount() const { return int(open_.size()); }
  bool writeOutstanding(HidHandle h) const;
  void clearLog() { calls.clear(); writes.clear(); }

  HidEnumStatus enumerateInterfaces(std::vector<std::string>& paths) override;
  bool readIds(const std::string& path, HidIds& ids) override;
  HidHandle openForRead(const std::string& path) override;
  HidHandle openForWrite(const std::string& path) override;
  HidWriteResult write(HidHandle handle, const uint8_t* bytes, size_t size,
                       uint32_t timeoutMs) override;
  HidWriteResult waitWrite(HidHandle handle, uint32_t timeoutMs) override;
  void cancelWrite(HidHandle handle) override;
  void close(HidHandle handle) override;

 private:
  struct OpenFile {
    std::string path;
    bool forWrite = false;
    bool outstanding = false;
    bool finished = false;
    HidWriteResult finishResult = HidWriteResult::Done;
  };
  const FakeHidInterface* find(const std::string& path) const;
  HidHandle open(const std::string& path, bool forWrite);

  std::map<int64_t, OpenFile> open_;
  int64_t nextHandle_ = 100;
};

}  // namespace tonalis
