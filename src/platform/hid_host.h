// HID host port: what the board needs from the system's HID stack. Finding the interfaces
// of a device by its ids, opening one, writing output reports with a time bound, closing.
//
// Paths are interface paths as UTF-8 text (a device-interface path on Windows, a
// /dev/hidraw node on Linux). Handles are small opaque values owned by the host; every
// handle that open() returns valid must be given back to close().
//
// A handle has at most one write pending. The host keeps it (and its own copy of the
// report) until the device takes it, refuses it or the handle is closed; the caller never
// waits for it beyond the timeout of the write that started it.
#pragma once

#include <cstdint>
#include <span>
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

enum class HidWriteResult {
  Done,    // the device took this report
  Busy,    // not taken yet: this report is still pending when its timeout ended, or an
           // earlier one still is and this report was dropped without waiting or starting
  Failed,  // refused or failed (at once, or completed with an error); nothing is pending
};

// A HID interface came or went, as the backend heard it from the system; the backend hands
// it to the app as an event.
struct DeviceChange {
  enum class Kind : uint8_t {
    Arrived,  // an interface became present
    Removed,  // an interface is gone
    Other,    // anything else (not about an interface, or another kind of notice)
  };
  Kind kind = Kind::Other;
  std::string path;  // UTF-8 interface path; empty for Other
};

class HidHost {
 public:
  virtual ~HidHost() = default;

  // The paths of the present interfaces whose device has these ids, in the system's order.
  // Interfaces that cannot be read are left out; nothing found (or no way to look) is empty.
  virtual std::vector<std::string> find(uint16_t vendorId, uint16_t productId) = 0;

  // Opens `path` for writing reports. InvalidHidHandle when it cannot be opened.
  virtual HidHandle open(const std::string& path) = 0;

  // Writes one output report (byte 0 is the report id) and waits up to `timeoutMs` for the
  // device to take it. The host copies the bytes. While an earlier write on `handle` is
  // pending this only looks at it: still pending gives Busy at once and the report is
  // dropped; over (whichever way) lets this report start. A write that fails at once does
  // not wait. An invalid or closed handle fails at once.
  virtual HidWriteResult write(HidHandle handle, std::span<const uint8_t> report,
                               uint32_t timeoutMs) = 0;

  // Cancels a pending write and closes the handle. How long this may wait for a write the
  // system cannot cancel is the backend's bound (500 ms at most on Linux).
  virtual void close(HidHandle handle) = 0;
};

}  // namespace tonalis
