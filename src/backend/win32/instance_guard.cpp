#include "backend/win32/instance_guard.h"

namespace tonalis::win32 {

namespace {

// "Local\": one copy per user session; another user's session runs its own.
constexpr wchar_t MutexName[] = L"Local\\Tonalis.Instance";
constexpr wchar_t WakeMessageName[] = L"Tonalis.ShowWindow";
constexpr wchar_t MainWindowProperty[] = L"Tonalis.MainWindow";

BOOL CALLBACK findMainWindow(HWND hwnd, LPARAM found) {
  if (!GetPropW(hwnd, MainWindowProperty)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

}  // namespace

Win32InstanceGuard::Win32InstanceGuard() : wakeMessage_(RegisterWindowMessageW(WakeMessageName)) {}

Win32InstanceGuard::~Win32InstanceGuard() {
  if (mutex_) CloseHandle(mutex_);
}

bool Win32InstanceGuard::claim() {
  mutex_ = CreateMutexW(nullptr, FALSE, MutexName);
  // Without a mutex (no memory, a name taken by another kind of object) this copy runs:
  // better two copies than none.
  return !(mutex_ && GetLastError() == ERROR_ALREADY_EXISTS);
}

void Win32InstanceGuard::wakeFirst() {
  // The first copy may still be starting: give its window a moment to appear.
  for (int attempt = 0; attempt < 40; ++attempt) {
    HWND first = nullptr;
    EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&first));
    if (first) {
      DWORD process = 0;
      GetWindowThreadProcessId(first, &process);
      // Lets the first copy take the foreground, which only the foreground process may give.
      AllowSetForegroundWindow(process);
      PostMessageW(first, wakeMessage_, 0, 0);
      return;
    }
    Sleep(50);
  }
}

void Win32InstanceGuard::markMainWindow(HWND hwnd) { SetPropW(hwnd, MainWindowProperty, HANDLE(1)); }

void Win32InstanceGuard::unmarkMainWindow(HWND hwnd) { RemovePropW(hwnd, MainWindowProperty); }

}  // namespace tonalis::win32
