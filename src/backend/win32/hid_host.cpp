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

}  // namespace

Win32HidHost::~Win32HidHost() {
  for (size_t i = 0; i < SlotCount; ++i) {
    if (slots_[i].file != INVALID_HANDLE_VALUE) close(HidHandle{int64_t(i)});
  }
}

HidEnumStatus Win32HidHost::enumerateInterfaces(std::vector<std::string>& paths) {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return HidEnumStatus::Complete;  // nothing to list

  HidEnumStatus status = HidEnumStatus::Complete;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) break;

    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
    std::string path;
    if (needed >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
      auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(needed));
      if (detail == nullptr) {
        status = HidEnumStatus::OutOfMemory;
        break;
      }
      // The fixed part of the record for this build's word size (8 on 64-bit, 6 on 32-bit).
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) {
        const size_t maxChars =
            (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        path = narrow({detail->DevicePath, wcsnlen(detail->DevicePath, maxChars)});
      }
      std::free(detail);
    }
    try {
      paths.push_back(std::move(path));
    } catch (const std::bad_alloc&) {
      status = HidEnumStatus::OutOfMemory;
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return status;
}

bool Win32HidHost::readIds(const std::string& path, HidIds& ids) {
  const std::wstring wide = widen(path);
  if (wide.empty()) return false;
  // No access rights: enough for the attributes, and works while others hold the device.
  HANDLE h = CreateFileW(wide.c_str(), 0, ShareReadWrite, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const bool ok = HidD_GetAttributes(h, &attributes) != FALSE;
  CloseHandle(h);
  if (!ok) return false;
  ids.vendorId = attributes.VendorID;
  ids.productId = attributes.ProductID;
  return true;
}

HidHandle Win32HidHost::open(const std::string& path, DWORD access) {
  size_t index = 0;
  while (index < SlotCount && slots_[index].file != INVALID_HANDLE_VALUE) ++index;
  if (index == SlotCount) return InvalidHidHandle;
  const std::wstring wide = widen(path);
  if (wide.empty()) return InvalidHidHandle;

  HANDLE file = CreateFileW(wide.c_str(), access, ShareReadWrite, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return InvalidHidHandle;
  HANDLE event = nullptr;
  if (access & GENERIC_WRITE) {
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      CloseHandle(file);
      return InvalidHidHandle;
    }
  }
  Slot& s = slots_[index];
  s.file = file;
  s.event = event;
  s.overlapped = OVERLAPPED{};
  s.outstanding = false;
  return HidHandle{int64_t(index)};
}

HidHandle Win32HidHost::openForRead(const std::string& path) { return open(path, GENERIC_READ); }

HidHandle Win32HidHost::openForWrite(const std::string& path) { return open(path, GENERIC_WRITE); }

Win32HidHost::Slot* Win32HidHost::slot(HidHandle handle) {
  if (!handle.valid() || handle.value >= int64_t(SlotCount)) return nullptr;
  Slot& s = slots_[size_t(handle.value)];
  return s.file == INVALID_HANDLE_VALUE ? nullptr : &s;
}

void Win32HidHost::cancel(Slot& s) {
  if (!s.outstanding) return;
  CancelIoEx(s.file, &s.overlapped);  // fails harmlessly when the write has just finished
  DWORD transferred = 0;
  GetOverlappedResult(s.file, &s.overlapped, &transferred, TRUE);  // the slot is free after this
  s.outstanding = false;
}

HidWriteResult Win32HidHost::finish(Slot& s, DWORD timeoutMs) {
  const DWORD waited = WaitForSingleObject(s.event, timeoutMs);
  if (waited == WAIT_TIMEOUT) return HidWriteResult::TimedOut;
  if (waited != WAIT_OBJECT_0) {
    cancel(s);
    return HidWriteResult::Failed;
  }
  DWORD transferred = 0;
  const BOOL ok = GetOverlappedResult(s.file, &s.overlapped, &transferred, FALSE);
  s.outstanding = false;
  return ok ? HidWriteResult::Done : HidWriteResult::Failed;
}

HidWriteResult Win32HidHost::write(HidHandle handle, const uint8_t* bytes, size_t size,
                                   uint32_t timeoutMs) {
  Slot* s = slot(handle);
  if (s == nullptr || s->event == nullptr || bytes == nullptr || size > MaxReportBytes) {
    return HidWriteResult::Failed;
  }
  cancel(*s);  // the caller should not have left one outstanding; never reuse a busy record
  std::memcpy(s->buffer.data(), bytes, size);
  ResetEvent(s->event);
  s->overlapped = OVERLAPPED{};
  s->overlapped.hEvent = s->event;
  if (!WriteFile(s->file, s->buffer.data(), DWORD(size), nullptr, &s->overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return HidWriteResult::Failed;  // board gone or handle dead: do not wait for nothing
  }
  s->outstanding = true;
  return finish(*s, timeoutMs);
}

HidWriteResult Win32HidHost::waitWrite(HidHandle handle, uint32_t timeoutMs) {
  Slot* s = slot(handle);
  if (s == nullptr) return HidWriteResult::Failed;
  if (!s->outstanding) return HidWriteResult::Done;
  return finish(*s, timeoutMs);
}

void Win32HidHost::cancelWrite(HidHandle handle) {
  if (Slot* s = slot(handle)) cancel(*s);
}

void Win32HidHost::close(HidHandle handle) {
  Slot* s = slot(handle);
  if (s == nullptr) return;
  cancel(*s);
  CloseHandle(s->file);
  if (s->event != nullptr) CloseHandle(s->event);
  s->file = INVALID_HANDLE_VALUE;
  s->event = nullptr;
  s->outstanding = false;
}

HDEVNOTIFY registerHidDeviceNotifications(HWND hwnd) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  return RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

HidDeviceChange translateDeviceChange(WPARAM wParam, LPARAM lParam) {
  HidDeviceChange change;
  if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return change;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return change;
  constexpr size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size <= nameOffset) return change;
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  // The name is NUL-terminated inside the record; never read past dbch_size.
  const size_t maxChars = (header->dbch_size - nameOffset) / sizeof(wchar_t);
  change.path = narrow({record->dbcc_name, wcsnlen(record->dbcc_name, maxChars)});
  change.event = wParam == DBT_DEVICEARRIVAL ? HidDeviceEvent::Arrival
                                             : HidDeviceEvent::RemoveComplete;
  return change;
}

}  // namespace tonalis::win32
