// Entry point of tonalis.exe: builds the Win32 backend's ports, puts the application
// together and runs it in the host's loop.
#include <windows.h>
#include <dbt.h>
#include <commctrl.h>
#include <mmsystem.h>

#include "app/command_ids.h"
#include "app/tonalis.h"
#include "backend/win32/bitmap_source.h"
#include "backend/win32/file_store.h"
#include "backend/win32/instance_guard.h"
#include "backend/win32/hid_host.h"
#include "backend/win32/app_host.h"
#include "backend/win32/presenter.h"
#include "backend/win32/clock.h"
#include "backend/win32/shell.h"
#include "backend/win32/tray_port.h"
#include "backend/win32/window_port.h"
#include "backend/win32/sound_input.h"

using namespace tonalis;
using namespace tonalis::win32;

namespace {

int runProgram(HINSTANCE instance) {
  Win32InstanceGuard instanceGuard;
  Win32AppHost host(instance);
  Win32WindowPort window;
  Win32Presenter presenter(host);
  Win32TrayPort tray(instance, [&host] { return host.hwnd(); });
  Win32Clock clock;
  Win32Shell shell(host);
  host.useShell(shell);
  Win32BitmapSource bitmaps(instance);
  Win32SoundInput sound;
  Win32HidHost hid;
  Win32FileStore files;
  HDEVNOTIFY deviceNotifications = nullptr;

  host.onCreated = [&](HWND hwnd) {
    SetWindowTextW(hwnd, L"Tonalis");  // no caption shows it; it names the window for tools
    window.attach(hwnd);
    Win32InstanceGuard::markMainWindow(hwnd);
    // Without it a board plugged in later is not seen until it is connected from the menu,
    // and one pulled out shows as a failed write; the program runs on.
    deviceNotifications = registerHidDeviceNotifications(hwnd);
    if (!deviceNotifications) OutputDebugStringW(L"Tonalis: no device notifications");
  };
  host.onDestroying = [&](HWND hwnd) {
    if (deviceNotifications) UnregisterDeviceNotification(deviceNotifications);
    deviceNotifications = nullptr;
    Win32InstanceGuard::unmarkMainWindow(hwnd);
  };
  // The tray draws at the primary monitor's scale, which can change while the program runs.
  host.onDisplayChanged = [&tray] { tray.fitIconToTray(); };
  // The messages known only at run time that the main window turns into events.
  host.vocabulary = {TrayIconId, tray.shellRestartMessage(), instanceGuard.wakeMessage(), CmdAbout};

  Tonalis app(AppPorts{host, window, presenter, tray, sound, hid, clock, shell, bitmaps, files, instanceGuard});
  const int code = app.run();
  if (app.workerAbandoned()) {
    // The worker is stuck in a device call and still uses what these objects own: end the
    // process here instead of tearing them down under it. Settings are saved and the tray
    // icon is gone.
    timeEndPeriod(1);
    TerminateProcess(GetCurrentProcess(), UINT(code));
  }
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // A 1 ms system timer resolution for the program's life, so the 28 ms frame timer
  // really ticks every 28 ms instead of every second 15.6 ms tick.
  timeBeginPeriod(1);
  int code = 0;
  try {
    code = runProgram(instance);
  } catch (...) {
    OutputDebugStringW(L"Tonalis: ended by an unexpected failure");
    code = 1;
  }
  timeEndPeriod(1);
  return code;
}
