// Small helpers shared by the Win32 backend.
#pragma once

#include <windows.h>

#include <new>
#include <string>
#include <string_view>

namespace tonalis::win32 {

// UTF-8 <-> UTF-16 without throwing: an empty result stands for "cannot convert".
inline std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  try {
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

inline std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  try {
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// Dots per inch: of the system (the shell's tray draws at it) and of one monitor. The calls
// are looked up by name: systems before Windows 10 (and 8.1 for the monitor's) lack them,
// and answer with the screen's logical DPI, which is the system's.
inline UINT systemDpi() {
  using GetDpiForSystemFn = UINT(WINAPI*)();
  static const auto getDpiForSystem = reinterpret_cast<GetDpiForSystemFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
  if (getDpiForSystem) return getDpiForSystem();
  HDC dc = GetDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : USER_DEFAULT_SCREEN_DPI;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? UINT(dpi) : USER_DEFAULT_SCREEN_DPI;
}

inline UINT monitorDpi(HMONITOR monitor) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = [] {
    HMODULE shcore = LoadLibraryW(L"shcore.dll");  // kept for the program's life
    return shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                  : nullptr;
  }();
  UINT x = 0, y = 0;
  if (getDpiForMonitor && SUCCEEDED(getDpiForMonitor(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y)) && x > 0) return x;
  return systemDpi();
}

// The tray's DPI: the primary monitor's, where the taskbar's notification area is. Unlike the
// system DPI, which a running program keeps from its start, it follows a change of the scale.
inline UINT trayDpi() { return monitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)); }

// The system's small-icon size at a DPI: 16 pixels at 100 %, 32 at 200 %. Without the call
// for a DPI (before Windows 10), the size at the program's own.
inline int smallIconSize(UINT dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = reinterpret_cast<GetSystemMetricsForDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  const int size = forDpi ? forDpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON);
  return size > 0 ? size : 16;
}

// Whether the program runs under Wine, whose X11 integration needs a few workarounds
// (each says why where it is used).
inline bool runningUnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

// Owns one GDI object and deletes it.
template <class Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle h) : handle_(h) {}
  ~GdiObject() { reset(); }
  GdiObject(GdiObject&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  GdiObject& operator=(GdiObject&& o) noexcept {
    if (this != &o) { reset(); handle_ = o.handle_; o.handle_ = nullptr; }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  Handle get() const { return handle_; }
  void reset() {
    if (handle_) DeleteObject(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

// Owns a memory DC and restores the object it held before.
class MemoryDc {
 public:
  MemoryDc() = default;
  explicit MemoryDc(HDC reference) : dc_(CreateCompatibleDC(reference)) {}
  ~MemoryDc() { reset(); }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }
  void select(HGDIOBJ object) {
    HGDIOBJ old = SelectObject(dc_, object);
    if (!old_) old_ = old;
  }
  void reset() {
    if (dc_) {
      if (old_) SelectObject(dc_, old_);
      DeleteDC(dc_);
    }
    dc_ = nullptr;
    old_ = nullptr;
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

}  // namespace tonalis::win32
