#include "platform/win32/shell.h"

#include <shellapi.h>

#include "platform/win32/util.h"

namespace tonalis::win32 {

void Win32Shell::showMessage(std::string_view utf8Text) {
  MessageBoxW(host_.hwnd(), widen(utf8Text).c_str(), L"Tonalis", MB_OK);
}

bool Win32Shell::openUrl(std::string_view url) {
  // Values above 32 mean success (the result is an HINSTANCE only by history).
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(host_.hwnd(), nullptr, widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace tonalis::win32
