// HID host on SetupAPI/HID and overlapped file I/O, and the window's device-change hooks.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/hid_host.h"

namespace tonalis::win32 {

class Win32HidHost final : public HidHost {
 public:
  Win32HidHost() = default;
  ~Win32HidHost() override;  // closes whatever is still open
  Win32HidHost(const Win32HidHost&) = delete;
  Win32HidHost& operator=(const Win32HidHost&) = delete;

  HidEnumStatus enumerateInterfaces(std::vector<std::string>& paths) override;
  bool readIds(const std::string& path, HidIds& ids) override;
  HidHandle openForRead(const std::string& path) override;
  HidHandle openForWrite(const std::string& path) override;
  HidWriteResult write(HidHandle handle, const uint8_t* bytes, size_t size,
                       uint32_t timeoutMs) override;
  HidWriteResult waitWrite(HidHandle handle, uint32_t timeoutMs) override;
  void cancelWrite(HidHandle handle) override;
  void close(HidHandle handle) override;

  static constexpr size_t MaxReportBytes = 1024;

 private:
  // One open file. A write handle owns its event, overlapped record and a copy of the
  // bytes being written: all three must stay put while a write is outstanding.
  struct Slot {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;  // manual-reset; write handles only
    OVERLAPPED overlapped{};
    bool outstanding = false;
    std::array<uint8_t, MaxReportBytes> buffer{};
  };
  static constexpr size_t SlotCount = 8;

  HidHandle open(const std::string& path, DWORD access);
  Slot* slot(HidHandle handle);
  HidWriteResult finish(Slot& s, DWORD timeoutMs);
  static void cancel(Slot& s);

  std::array<Slot, SlotCount> slots_{};
};

// Asks for WM_DEVICECHANGE arrival/removal messages about HID interfaces for `hwnd`.
// Returns the registration, or nullptr when it failed; it may stay registered for the
// window's lifetime (UnregisterDeviceNotification releases it).
HDEVNOTIFY registerHidDeviceNotifications(HWND hwnd);

struct HidDeviceChange {
  HidDeviceEvent event = HidDeviceEvent::Other;
  std::string path;  // UTF-8 interface path; empty for Other
};

// Reads a WM_DEVICECHANGE: DBT_DEVICEARRIVAL (0x8000) and DBT_DEVICEREMOVECOMPLETE (0x8004)
// carrying a DEV_BROADCAST_DEVICEINTERFACE_W become Arrival / RemoveComplete with the
// interface path; anything else is Other. The window procedure hands the result to
// onBoardDeviceChange and returns TRUE.
HidDeviceChange translateDeviceChange(WPARAM wParam, LPARAM lParam);

}  // namespace tonalis::win32
