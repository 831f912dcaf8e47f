// HID host port: finding HID interfaces, reading their ids, opening them and writing output
// reports with a timeout. Shaped like SetupAPI/HID plus overlapped file I/O, without OS types.
//
// Paths are device-interface paths as UTF-8 text. Handles are small opaque values owned by
// the host; every handle that open*() returns valid must be given back to close().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonalis {

// An open interface. `value` means something only to the host that made it.
struct HidHandle {
  int64_t value = -1;
  bool valid() const { return value >= 0; }
  friend bool operator==(const HidHandle&, const HidHandle&) = default;
};
inline constexpr HidHandle InvalidHidHandle{};

enum class HidEnumStatus {
  Complete,     // every present interface is in the list
  OutOfMemory,  // memory for an interface's details ran out: the list stops before it
};

struct HidIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

enum class HidWriteResult {
  Done,      // the write completed successfully
  TimedOut,  // still pending when the wait ended; the write stays outstanding
  Failed,    // failed (at once, or completed with an error); nothing is outstanding
};

// What a device-change notification reports about a HID interface.
enum class HidDeviceEvent {
  Arrival,         // an interface became present
  RemoveComplete,  // an interface is gone
  Other,           // anything else (not about an interface, or another event type)
};

class HidHost {
 public:
  virtual ~HidHost() = default;

  // Appends the paths of the present HID interfaces to `paths`, in the system's order. An
  // interface whose details cannot be read appears as an empty path. No interfaces (or no
  // way to list them) gives an empty list with Complete.
  virtual HidEnumStatus enumerateInterfaces(std::vector<std::string>& paths) = 0;

  // Opens `path` without access rights just long enough to read its vendor and product id.
  // False when it cannot be opened or the ids cannot be read.
  virtual bool readIds(const std::string& path, HidIds& ids) = 0;

  // Overlapped handles on `path`, shared for reading and writing with other openers.
  // InvalidHidHandle when the path cannot be opened that way.
  virtual HidHandle openForRead(const std::string& path) = 0;
  virtual HidHandle openForWrite(const std::string& path) = 0;

  // Starts writing `size` bytes (byte 0 is the report id) and waits up to `timeoutMs`
  // for completion. The host copies the bytes, so they need not outlive the call. Each
  // write handle has one overlapped slot: the caller must not start a write while an
  // earlier one on the same handle is outstanding (TimedOut and not yet finished).
  // An invalid handle fails at once.
  virtual HidWriteResult write(HidHandle handle, const uint8_t* bytes, size_t size,
                               uint32_t timeoutMs) = 0;

  // Waits up to `timeoutMs` (0 = just look) for the outstanding write on `handle`.
  // Done or Failed mean it is finished and the slot is free; TimedOut means still pending.
  // With nothing outstanding the result is Done.
  virtual HidWriteResult waitWrite(HidHandle handle, uint32_t timeoutMs) = 0;

  // Cancels the outstanding write on `handle`, if any, and returns once the cancellation
  // has completed, so the slot can be reused or the handle closed.
  virtual void cancelWrite(HidHandle handle) = 0;

  // Closes a handle from open*(). An outstanding write is cancelled first.
  virtual void close(HidHandle handle) = 0;
};

}  // namespace tonalis
