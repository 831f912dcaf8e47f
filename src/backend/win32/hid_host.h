// HID host on SetupAPI/HID and overlapped file I/O, and the window's device-change hooks.
// A pending write is an overlapped WriteFile on the slot's own record and buffer: write()
// waits on its event as long as it was told, a later write() only looks at it, and close()
// cancels it and waits for the cancellation (which the HID class driver ends at once).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/hid_host.h"

namespace tonalis::win32 {

class Win32HidHost final : public HidHost {
 public:
  Win32HidHost() = default;
  ~Win32HidHost() override;  // closes whatever is still open
  Win32HidHost(const Win32HidHost&) = delete;
  Win32HidHost& operator=(const Win32HidHost&) = delete;

  std::vector<std::string> find(uint16_t vendorId, uint16_t productId) override;
  HidHandle open(const std::string& path) override;
  HidWriteResult write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) override;
  void close(HidHandle handle) override;

  static constexpr size_t MaxReportBytes = 1024;

 private:
  // One open interface. Its event, overlapped record and the copy of the bytes being
  // written must stay put while a write is pending.
  struct Slot {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;  // manual-reset, signalled when the write ends
    OVERLAPPED overlapped{};
    bool pending = false;
    std::array<uint8_t, MaxReportBytes> buffer{};
  };
  static constexpr size_t SlotCount = 8;

  Slot* slot(HidHandle handle);
  static bool ended(Slot& s, DWORD timeoutMs, bool& ok);
  static void cancel(Slot& s);

  std::array<Slot, SlotCount> slots_{};
};

// Asks for WM_DEVICECHANGE arrival/removal messages about HID interfaces for `hwnd`.
// Returns the registration, or nullptr when it failed; it may stay registered for the
// window's lifetime (UnregisterDeviceNotification releases it).
HDEVNOTIFY registerHidDeviceNotifications(HWND hwnd);

// Reads a WM_DEVICECHANGE: DBT_DEVICEARRIVAL (0x8000) and DBT_DEVICEREMOVECOMPLETE (0x8004)
// carrying a DEV_BROADCAST_DEVICEINTERFACE_W become Arrived / Removed with the interface
// path; anything else is Other. The window procedure hands the result on as an event and
// returns TRUE.
DeviceChange translateDeviceChange(WPARAM wParam, LPARAM lParam);

}  // namespace tonalis::win32
