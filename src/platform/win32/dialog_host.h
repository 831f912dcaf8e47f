// The Win32 side of a CDialog: a dialog window made from its template, a modal loop
// with the dialog's pre-translation in front, and a dialog procedure that only turns
// native messages into CDialog::dispatch calls.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/dialog.h"

namespace tonalis::win32 {

class Win32DialogHost : public DialogHost {
 public:
  // `owner` may be null. `onInit` runs once the window exists, before the dialog's own
  // initialisation (the backend's chance to bind its window-dependent objects).
  explicit Win32DialogHost(HINSTANCE instance, HWND owner = nullptr) : instance_(instance), owner_(owner) {}

  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }
  // Native messages the backend handles itself before the dialog sees them (the shell's
  // "TaskbarCreated", device notifications). Return true when consumed.
  std::function<bool(CDialog&, UINT, WPARAM, LPARAM, LRESULT&)> nativeHook;
  std::function<void(HWND)> onCreated;
  std::function<void(HWND)> onDestroying;  // just before the window is destroyed

  intptr_t runModal(CDialog& dialog) override;
  void endModal(intptr_t result) override;
  intptr_t defaultProcessing(const Message& message) override;
  bool dialogPreTranslate(const Message& message) override;
  intptr_t sendMessage(const Message& message) override;
  void postMessage(const Message& message) override;
  void processSentMessages() override;
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override;
  void appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) override;
  void setIcon(int iconId) override;
  bool isIconic() override;
  void paintIconic(int iconId) override;
  intptr_t dragIcon() override;
  Point screenSize() override;
  void setControlText(int controlId, std::string_view utf8Text) override;
  Rect controlScreenRect(int controlId) override;
  int controlIdOf(intptr_t controlHandle) override;
  intptr_t controlColors(const Message& message, std::optional<ColorRef> textColor) override;
  Point cursorPos() override;
  void setHandCursor() override;
  std::unique_ptr<DialogHost> createDialogHost() override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  HICON loadIcon(int iconId, int size);

  HINSTANCE instance_;
  HWND owner_;
  HWND hwnd_ = nullptr;
  CDialog* dialog_ = nullptr;
  const MSG* current_ = nullptr;   // the message in the modal loop's hands
  bool ended_ = false;
  intptr_t result_ = IDCANCEL;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
};

}  // namespace tonalis::win32
