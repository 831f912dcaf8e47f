// The Win32 side of a CDialog: a dialog window made from its template, a modal loop
// with the dialog's key pre-translation in front, and a dialog procedure that turns
// native messages into typed events for CDialog::dispatch and answers the system from
// what the handlers left in them.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "framework/dialog.h"
#include "backend/win32/event_translation.h"

namespace tonalis::win32 {

class Win32DialogHost : public DialogHost {
 public:
  // `owner` may be null. `onInit` runs once the window exists, before the dialog's own
  // initialisation (the backend's chance to bind its window-dependent objects).
  explicit Win32DialogHost(HINSTANCE instance, HWND owner = nullptr) : instance_(instance), owner_(owner) {}

  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }
  // The run-time message ids this window understands (the tray's callback, the shell's
  // restart, a second copy's wake-up); the hosts it creates know none.
  MessageVocabulary vocabulary;
  std::function<void(HWND)> onCreated;
  std::function<void(HWND)> onDestroying;  // just before the window is destroyed

  intptr_t runModal(CDialog& dialog) override;
  void endModal(intptr_t result) override;
  bool dialogPreTranslate(const KeyPress& key) override;
  void post(const Event& event) override;
  void postQuit() override;
  void processSentMessages() override;
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override;
  void appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) override;
  void setIcon(int iconId) override;
  bool isIconic() override;
  void paintIconic(int iconId) override;
  std::vector<Monitor> monitors() override;
  void setControlText(int controlId, std::string_view utf8Text) override;
  Rect controlScreenRect(int controlId) override;
  Point cursorPos() override;
  std::unique_ptr<DialogHost> createDialogHost() override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  // Dispatches one event and answers `message` as its handler decided.
  INT_PTR deliver(Event& event, UINT message, WPARAM wParam, LPARAM lParam);
  void deliverPosted();
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
  std::mutex postedMutex_;
  std::deque<Event> posted_;  // events posted from any thread, for the window's thread
};

}  // namespace tonalis::win32
