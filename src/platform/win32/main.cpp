// Entry point of tonalis.exe: builds the Win32 backend's ports and runs the application.
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include "app/tonalis_app.h"
#include "platform/win32/bitmap_source.h"
#include "platform/win32/hid_host.h"
#include "platform/win32/dialog_host.h"
#include "platform/win32/presenter.h"
#include "platform/win32/clock.h"
#include "platform/win32/shell.h"
#include "platform/win32/tray_port.h"
#include "platform/win32/window_port.h"
#include "platform/win32/sound_input.h"

using namespace tonalis;
using namespace tonalis::win32;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // A 1 ms system timer resolution for the program's life, so the 28 ms frame timer
  // really ticks every 28 ms instead of every second 15.6 ms tick.
  timeBeginPeriod(1);

  Win32DialogHost host(instance);
  Win32WindowPort window;
  Win32Presenter presenter(host);
  Win32TrayPort tray(instance, [&host] { return host.hwnd(); });
  Win32Clock clock;
  Win32Shell shell(host);
  Win32BitmapSource bitmaps(instance);
  Win32SoundInput sound;
  Win32HidHost hid;

  host.onCreated = [&](HWND hwnd) {
    SetWindowTextW(hwnd, L"Tonalis");  // no caption shows it; it names the window for tools
    window.attach(hwnd);
    registerHidDeviceNotifications(hwnd);
  };
  // The few native messages that carry OS records: translated here, handled by the core.
  host.nativeHook = [&](CDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (tray.onShellMessage(message)) return true;  // the shell restarted
    if (message == WM_DEVICECHANGE) {
      const HidDeviceChange change = translateDeviceChange(wParam, lParam);
      result = static_cast<CTonalisDlg&>(dialog).onDeviceChange(change.event, change.path);
      return true;
    }
    return false;
  };

  CTonalisApp app(AppPorts{host, window, presenter, tray, sound, hid, clock, shell, bitmaps});
  const int code = app.run();
  timeEndPeriod(1);
  return code;
}
