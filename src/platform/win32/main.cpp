// Entry point of tonalis.exe: builds the Win32 backend's ports and runs the application.
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include "app/tonalis_app.h"
#include "platform/win32/bitmap_resources.h"
#include "platform/win32/win32_dialog_host.h"
#include "platform/win32/win32_presenter.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_tray.h"

using namespace tonalis;
using namespace tonalis::win32;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // A 1 ms system timer resolution for the program's life, so the 28 ms frame timer
  // really ticks every 28 ms instead of every second 15.6 ms tick.
  timeBeginPeriod(1);

  Win32DialogHost host(instance);
  Win32Presenter presenter(host);
  Win32Tray tray(host);
  Win32Clock clock;
  Win32Shell shell(host);
  Win32BitmapSource bitmaps(instance);

  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  host.onCreated = [](HWND hwnd) { SetWindowTextW(hwnd, L"Tonalis"); };
  host.nativeHook = [&](UINT message, WPARAM, LPARAM, LRESULT&) {
    if (message == taskbarCreated && taskbarCreated != 0) {
      tray.restore();
      return true;
    }
    return false;
  };

  CTonalisApp app(AppPorts{host, presenter, tray, clock, shell, bitmaps});
  const int code = app.run();
  timeEndPeriod(1);
  return code;
}
