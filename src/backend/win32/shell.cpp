#include "backend/win32/shell.h"

#include <shellapi.h>

#include <string>

#include "backend/win32/util.h"

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

namespace {

constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t RunValue[] = L"Tonalis";

}  // namespace

bool Win32Shell::startsWithSession() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  const bool present = RegQueryValueExW(key, RunValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                       (type == REG_SZ || type == REG_EXPAND_SZ);
  RegCloseKey(key);
  return present;
}

bool Win32Shell::setStartWithSession(bool on) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  LSTATUS status;
  if (on) {
    // Quoted: the folder may have spaces in it.
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    path.resize(length);
    const std::wstring command = L"\"" + path + L"\"";
    status = length == 0 ? ERROR_INVALID_DATA
                         : RegSetValueExW(key, RunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                          DWORD((command.size() + 1) * sizeof(wchar_t)));
  } else {
    status = RegDeleteValueW(key, RunValue);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace tonalis::win32
