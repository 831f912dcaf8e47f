#include "backend/win32/tray_port.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "backend/win32/event_translation.h"
#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {

void appendItems(HMENU menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        break;
      case MenuItem::Kind::SubMenu: {
        HMENU sub = CreatePopupMenu();
        appendItems(sub, item.children);
        AppendMenuW(menu, MF_POPUP | MF_STRING, UINT_PTR(sub), widen(item.label).c_str());
        break;
      }
      case MenuItem::Kind::Command:
        AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : 0u) | (item.enabled ? 0u : MF_GRAYED),
                    item.id, widen(item.label).c_str());
        if (item.radio) {
          // A bullet instead of a tick: one choice of a group.
          MENUITEMINFOW info{};
          info.cbSize = sizeof(info);
          info.fMask = MIIM_FTYPE;
          info.fType = MFT_STRING | MFT_RADIOCHECK;
          SetMenuItemInfoW(menu, item.id, FALSE, &info);
        }
        break;
    }
  }
}

}  // namespace

Win32TrayPort::~Win32TrayPort() {
  removeIcon();
  if (icon_) DestroyIcon(icon_);
}

bool Win32TrayPort::setIconSize(int size) {
  if (iconId_ == 0 || (icon_ && size == iconSize_)) return false;
  // The icon file holds 16, 20, 24, 32 and 48-pixel images: the one for the tray's scale.
  auto* icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(iconId_), IMAGE_ICON, size, size, 0));
  if (!icon) return false;
  HICON old = icon_;
  icon_ = icon;
  iconSize_ = size;
  data_.hIcon = icon_;
  if (added_) {
    NOTIFYICONDATAW change = data_;
    change.uFlags = NIF_ICON;
    Shell_NotifyIconW(NIM_MODIFY, &change);
  }
  // The shell keeps its own copy of what it was given.
  if (old) DestroyIcon(old);
  return true;
}

bool Win32TrayPort::addIcon(uint32_t iconId, std::string_view tip) {
  if (iconId != iconId_) {
    if (icon_) DestroyIcon(icon_);
    icon_ = nullptr;
    iconId_ = iconId;
  }
  if (!icon_) setIconSize(smallIconSize(trayDpi()));
  data_ = {};
  data_.cbSize = sizeof(data_);  // the record's size for this build's word size
  data_.hWnd = window_();
  // A shared system icon (never destroyed) stands in if the resource is missing.
  data_.hIcon = icon_ ? icon_ : LoadIconW(nullptr, IDI_APPLICATION);
  data_.uID = iconId;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = TrayCallbackMessage;
  const std::wstring wideTip = widen(tip);
  wcsncpy(data_.szTip, wideTip.c_str(), sizeof(data_.szTip) / sizeof(wchar_t) - 1);
  added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  // A busy shell can time out and still have added the icon; then it accepts a change.
  if (!added_) added_ = Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
  return added_;
}

void Win32TrayPort::setTip(std::string_view tip) {
  const std::wstring wideTip = widen(tip);
  std::fill(std::begin(data_.szTip), std::end(data_.szTip), L'\0');
  wcsncpy(data_.szTip, wideTip.c_str(), sizeof(data_.szTip) / sizeof(wchar_t) - 1);
  // Kept in the record either way, so an icon added again later shows it too.
  if (added_) Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void Win32TrayPort::showBalloon(std::string_view title, std::string_view text) {
  if (!added_) return;
  NOTIFYICONDATAW balloon = data_;
  balloon.uFlags = NIF_INFO;
  balloon.dwInfoFlags = NIIF_WARNING;
  const std::wstring wideTitle = widen(title);
  const std::wstring wideText = widen(text);
  wcsncpy(balloon.szInfoTitle, wideTitle.c_str(), sizeof(balloon.szInfoTitle) / sizeof(wchar_t) - 1);
  wcsncpy(balloon.szInfo, wideText.c_str(), sizeof(balloon.szInfo) / sizeof(wchar_t) - 1);
  Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void Win32TrayPort::removeIcon() {
  if (!added_) return;
  Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = false;
}

void Win32TrayPort::trackMenu(const std::vector<MenuItem>& items) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  appendItems(menu, items);
  POINT cursor;
  GetCursorPos(&cursor);
  HWND owner = window_();
  SetForegroundWindow(owner);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr);
  // Lets the menu close properly when the user clicks elsewhere.
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

}  // namespace tonalis::win32
