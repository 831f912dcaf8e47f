#include "platform/win32/shell.h"

#include <shellapi.h>

#include "platform/win32/util.h"

namespace tonalis::win32 {

void Win32Shell::showMessage(std::string_view utf8Text) {
  MessageBoxW(host_.hwnd(), widen(utf8Text).c_str(), L"Tonalis", MB_OK);
}

void Win32Shell::openUrl(std::string_view url) {
  ShellExecuteW(nullptr, nullptr, widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tonalis::win32
