// CDialog: a dialog object bound to messages through a static message table, run modally.
// The platform side (DialogHost) creates the native window, feeds every native message
// to dispatch(), and runs the modal loop with preTranslateMessage in front of it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "common/types.h"
#include "framework/messages.h"

namespace tonalis {

class CDialog;

// One entry of a message table. For WM_COMMAND the entry matches one command id (the low
// word of wParam); for other messages commandId is 0. `invoke` returns true when the
// message is handled (its result in `result`), false to go on to default processing.
struct MessageEntry {
  uint32_t message = 0;
  uint32_t commandId = 0;
  bool (*invoke)(CDialog& dialog, const Message& message, intptr_t& result) = nullptr;
};

namespace detail {
template <class T> struct MemberClass;
template <class C, class R, class... A> struct MemberClass<R (C::*)(A...)> { using type = C; };
}  // namespace detail

// Table entries from member functions. Three handler shapes:
//   void handler()                               -> handled, result 0
//   intptr_t handler(uintptr_t w, intptr_t l)    -> handled, result returned
//   bool handler(const Message&, intptr_t& res)  -> the handler decides (false = default)
template <auto Handler>
constexpr MessageEntry onMessage(uint32_t message, uint32_t commandId = 0) {
  using T = typename detail::MemberClass<decltype(Handler)>::type;
  return {message, commandId, [](CDialog& d, const Message& m, intptr_t& r) -> bool {
            auto& self = static_cast<T&>(d);
            if constexpr (requires { (self.*Handler)(); }) {
              (self.*Handler)();
              r = 0;
              return true;
            } else if constexpr (requires { (self.*Handler)(m.wParam, m.lParam); }) {
              r = (self.*Handler)(m.wParam, m.lParam);
              return true;
            } else {
              return (self.*Handler)(m, r);
            }
          }};
}

template <auto Handler>
constexpr MessageEntry onCommand(uint32_t commandId) {
  return onMessage<Handler>(WM_COMMAND, commandId);
}

// The native side of a dialog window: the operations of a window that the framework and
// the dialogs use. One host per dialog object; the Win32 backend and the test fake
// implement it.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Creates the window from the dialog's template, calls onInitDialog, runs the modal
  // loop until endModal, destroys the window and returns the result.
  virtual intptr_t runModal(CDialog& dialog) = 0;
  virtual void endModal(intptr_t result) = 0;
  // Default processing of the message being dispatched (the system's dialog procedure).
  virtual intptr_t defaultProcessing(const Message& message) = 0;
  // The framework's pre-translation: dialog keyboard handling (Tab, Enter -> IDOK, Esc -> IDCANCEL).
  virtual bool dialogPreTranslate(const Message& message) = 0;
  virtual intptr_t sendMessage(const Message& message) = 0;   // synchronous, UI thread
  virtual void postMessage(const Message& message) = 0;       // from any thread
  // Handles messages that other threads are sending to this window right now (and only
  // those), so a thread blocked in such a send can go on while this one waits for it.
  virtual void processSentMessages() = 0;

  // Window operations a dialog uses (those of an MFC CWnd that this program needs).
  // A window timer: WM_TIMER with `id` every `periodMillis`. May be started from any thread.
  // False when the system has no timer to give (from another thread: when the request
  // could not be handed to the window).
  virtual bool setTimer(uint32_t id, uint32_t periodMillis) = 0;
  virtual void killTimer(uint32_t id) = 0;
  // Appends a separator and a command item to the window's system menu, when it has one.
  virtual void appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) = 0;
  virtual void setIcon(int iconId) = 0;     // big, then small icon
  virtual bool isIconic() = 0;
  virtual void paintIconic(int iconId) = 0;  // erase the icon background, draw the icon centred
  virtual intptr_t dragIcon() = 0;           // the window icon's handle as WM_QUERYDRAGICON answers
  virtual Point screenSize() = 0;            // primary screen, as reported

  // Controls and the cursor (the About dialog's needs).
  virtual void setControlText(int controlId, std::string_view utf8Text) = 0;
  virtual Rect controlScreenRect(int controlId) = 0;   // right and bottom exclusive
  virtual int controlIdOf(intptr_t controlHandle) = 0; // the id of a WM_CTLCOLOR* lParam's control
  // The system's answer to a WM_CTLCOLOR* message, optionally with another text colour.
  virtual intptr_t controlColors(const Message& message, std::optional<ColorRef> textColor) = 0;
  virtual Point cursorPos() = 0;                       // screen coordinates
  virtual void setHandCursor() = 0;
  // A host for another modal dialog of the program, owned by this one's window.
  virtual std::unique_ptr<DialogHost> createDialogHost() = 0;
};

class CDialog {
 public:
  CDialog(int templateId, DialogHost& host) : templateId_(templateId), host_(&host) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int templateId() const { return templateId_; }
  DialogHost& host() { return *host_; }

  intptr_t doModal() { return host_->runModal(*this); }
  void endDialog(intptr_t result) { host_->endModal(result); }

  // Framework hooks. onInitDialog runs once the window exists; returning true lets the
  // system set the focus.
  virtual bool onInitDialog() { return true; }
  // Sees every message of the modal loop before dispatch; true = consumed.
  virtual bool preTranslateMessage(const Message& message) { return host_->dialogPreTranslate(message); }

  // Routes one message through the table, then the framework defaults. Returns true when
  // handled, with the result in `result`; false means the host's default processing.
  bool dispatch(const Message& message, intptr_t& result);

 protected:
  virtual std::span<const MessageEntry> messageTable() const { return {}; }
  virtual void onOK() { endDialog(IDOK); }
  virtual void onCancel() { endDialog(IDCANCEL); }

 private:
  int templateId_;
  DialogHost* host_;
};

}  // namespace tonalis
