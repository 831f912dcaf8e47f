#include "backend/win32/hid_host.h"
#include "backend/win32/util.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
// clang-format on
// mingw-w64's hidsdi.h declares C functions without extern "C" (the SDK's has it inside).
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace tonalis::win32 {

namespace {

constexpr DWORD ShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Reads the vendor and product id of the device behind `path`, opening it without access
// rights: enough for the attributes, and works while others hold the device.
bool readIds(const std::wstring& path, USHORT& vendorId, USHORT& productId) {
  HANDLE h = CreateFileW(path.c_str(), 0, ShareReadWrite, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const bool ok = HidD_GetAttributes(h, &attributes) != FALSE;
  CloseHandle(h);
  vendorId = attributes.VendorID;
  productId = attributes.ProductID;
  return ok;
}

}  // namespace

Win32HidHost::~Win32HidHost() {
  for (size_t i = 0; i < SlotCount; ++i) {
    if (slots_[i].file != INVALID_HANDLE_VALUE) close(HidHandle{int64_t(i)});
  }
}

std::vector<std::string> Win32HidHost::find(uint16_t vendorId, uint16_t productId) {
  std::vector<std::string> found;
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return found;  // nothing to list

  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) break;

    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(needed));
    if (detail == nullptr) break;  // out of memory: what was found so far is the answer
    // The fixed part of the record for this build's word size (8 on 64-bit, 6 on 32-bit).
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    std::wstring path;
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) {
      const size_t maxChars =
          (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
      path.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
    }
    std::free(detail);
    USHORT vid = 0, pid = 0;
    if (path.empty() || !readIds(path, vid, pid) || vid != vendorId || pid != productId) continue;
    try {
      found.push_back(narrow(path));
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

HidHandle Win32HidHost::open(const std::string& path) {
  size_t index = 0;
  while (index < SlotCount && slots_[index].file != INVALID_HANDLE_VALUE) ++index;
  if (index == SlotCount) return InvalidHidHandle;
  const std::wstring wide = widen(path);
  if (wide.empty()) return InvalidHidHandle;

  // Read access too, as the board has always been opened; nothing is read from it.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, ShareReadWrite, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return InvalidHidHandle;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    CloseHandle(file);
    return InvalidHidHandle;
  }
  Slot& s = slots_[index];
  s.file = file;
  s.event = event;
  s.overlapped = OVERLAPPED{};
  s.pending = false;
  return HidHandle{int64_t(index)};
}

Win32HidHost::Slot* Win32HidHost::slot(HidHandle handle) {
  if (!handle.valid() || handle.value >= int64_t(SlotCount)) return nullptr;
  Slot& s = slots_[size_t(handle.value)];
  return s.file == INVALID_HANDLE_VALUE ? nullptr : &s;
}

void Win32HidHost::cancel(Slot& s) {
  if (!s.pending) return;
  CancelIoEx(s.file, &s.overlapped);  // fails harmlessly when the write has just ended
  DWORD transferred = 0;
  GetOverlappedResult(s.file, &s.overlapped, &transferred, TRUE);  // the slot is free after this
  s.pending = false;
}

// Waits up to `timeoutMs` for the pending write. True when it is over (the slot is free),
// with `ok` saying whether the device took it.
bool Win32HidHost::ended(Slot& s, DWORD timeoutMs, bool& ok) {
  const DWORD waited = WaitForSingleObject(s.event, timeoutMs);
  if (waited == WAIT_TIMEOUT) return false;
  if (waited != WAIT_OBJECT_0) {
    cancel(s);
    ok = false;
    return true;
  }
  DWORD transferred = 0;
  ok = GetOverlappedResult(s.file, &s.overlapped, &transferred, FALSE) != FALSE;
  s.pending = false;
  return true;
}

HidWriteResult Win32HidHost::write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) {
  Slot* s = slot(handle);
  if (s == nullptr || report.empty() || report.size() > MaxReportBytes) return HidWriteResult::Failed;
  bool ok = false;
  // A board that stopped taking reports must not cost every frame the full timeout: while
  // the last write is pending, only look.
  if (s->pending && !ended(*s, 0, ok)) return HidWriteResult::Busy;

  std::memcpy(s->buffer.data(), report.data(), report.size());
  ResetEvent(s->event);
  s->overlapped = OVERLAPPED{};
  s->overlapped.hEvent = s->event;
  if (!WriteFile(s->file, s->buffer.data(), DWORD(report.size()), nullptr, &s->overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return HidWriteResult::Failed;  // board gone or handle dead: do not wait for nothing
  }
  s->pending = true;
  if (!ended(*s, timeoutMs, ok)) return HidWriteResult::Busy;  // stays pending in the slot
  return ok ? HidWriteResult::Done : HidWriteResult::Failed;
}

void Win32HidHost::close(HidHandle handle) {
  Slot* s = slot(handle);
  if (s == nullptr) return;
  cancel(*s);
  CloseHandle(s->file);
  CloseHandle(s->event);
  s->file = INVALID_HANDLE_VALUE;
  s->event = nullptr;
  s->pending = false;
}

HDEVNOTIFY registerHidDeviceNotifications(HWND hwnd) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  return RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

DeviceChange translateDeviceChange(WPARAM wParam, LPARAM lParam) {
  DeviceChange change;
  if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return change;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return change;
  constexpr size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size <= nameOffset) return change;
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  // The name is NUL-terminated inside the record; never read past dbch_size.
  const size_t maxChars = (header->dbch_size - nameOffset) / sizeof(wchar_t);
  change.path = narrow({record->dbcc_name, wcsnlen(record->dbcc_name, maxChars)});
  change.kind = wParam == DBT_DEVICEARRIVAL ? DeviceChange::Kind::Arrived : DeviceChange::Kind::Removed;
  return change;
}

}  // namespace tonalis::win32
