// CDialog: a dialog object bound to events through a static event table, run modally.
// The platform side (DialogHost) creates the native window, decodes every native message
// it knows into an Event for dispatch(), and runs the modal loop with preTranslateMessage
// in front of it.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "common/types.h"
#include "platform/events.h"

namespace tonalis {

class CDialog;

// One entry of an event table: events of one kind, and of those carrying an id (commands,
// system commands, timers, the program's notifications) the ones with `id`; an id of 0
// takes them all. `invoke` returns true when the event is handled, false to go on to the
// system's default processing. A handler answers the system through the event's fields.
struct EventEntry {
  size_t kind = 0;
  uint32_t id = 0;
  bool (*invoke)(CDialog& dialog, Event& event) = nullptr;
};

namespace detail {
template <class T> struct MemberClass;
template <class C, class R, class... A> struct MemberClass<R (C::*)(A...)> { using type = C; };
}  // namespace detail

// Table entries from member functions, for events of type E. Handler shapes:
//   void handler() / void handler(const E&)           -> handled
//   bool handler() / bool handler(E& or const E&)     -> the handler decides
//                                                        (false = default processing)
template <class E, auto Handler>
constexpr EventEntry onEvent(uint32_t id = 0) {
  static_assert(eventKind<E> < std::variant_size_v<Event>, "not an Event alternative");
  using T = typename detail::MemberClass<decltype(Handler)>::type;
  return {eventKind<E>, id, [](CDialog& d, Event& e) -> bool {
            auto& self = static_cast<T&>(d);
            E& event = std::get<E>(e);
            if constexpr (requires { { (self.*Handler)(event) } -> std::same_as<bool>; }) {
              return (self.*Handler)(event);
            } else if constexpr (requires { (self.*Handler)(event); }) {
              (self.*Handler)(event);
              return true;
            } else if constexpr (requires { { (self.*Handler)() } -> std::same_as<bool>; }) {
              return (self.*Handler)();
            } else {
              (self.*Handler)();
              return true;
            }
          }};
}

template <auto Handler>
constexpr EventEntry onCommand(uint32_t commandId) {
  return onEvent<Command, Handler>(commandId);
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
  // The framework's pre-translation of a key: the system's dialog keyboard handling (Tab
  // moves the focus, Enter chooses IdOk, Escape IdCancel). True when consumed.
  virtual bool dialogPreTranslate(const KeyPress& key) = 0;
  // Queues `event` for the dialog; it is dispatched on the window's thread, in the order
  // posted. Callable from any thread.
  virtual void post(const Event& event) = 0;
  // Asks every modal loop of the thread to end (after this one's own end).
  virtual void postQuit() = 0;
  // Handles requests that other threads are making of this window right now (and only
  // those), so a thread blocked in such a request can go on while this one waits for it.
  virtual void processSentMessages() = 0;

  // Window operations a dialog uses (those of an MFC CWnd that this program needs).
  // A window timer: TimerTick with `id` every `periodMillis`. May be started from any
  // thread. False when the system has no timer to give (from another thread: when the
  // request could not be handed to the window).
  virtual bool setTimer(uint32_t id, uint32_t periodMillis) = 0;
  virtual void killTimer(uint32_t id) = 0;
  // Appends a separator and an item to the window's system menu, when it has one; choosing
  // it gives SystemCommand with `commandId` (a multiple of 16).
  virtual void appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) = 0;
  virtual void setIcon(int iconId) = 0;     // big, then small icon; also the icon dragged
  virtual bool isIconic() = 0;
  virtual void paintIconic(int iconId) = 0;  // erase the icon background, draw the icon centred
  // The monitors as the system reports them now, the primary one among them; never
  // cached, the list changes with a display change.
  virtual std::vector<Monitor> monitors() = 0;

  // Controls and the cursor (the About dialog's needs).
  virtual void setControlText(int controlId, std::string_view utf8Text) = 0;
  virtual Rect controlScreenRect(int controlId) = 0;   // right and bottom exclusive
  virtual Point cursorPos() = 0;                       // screen coordinates
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
  // Sees every key of the modal loop before anything else; true = consumed.
  virtual bool preTranslateMessage(const KeyPress& key) { return host_->dialogPreTranslate(key); }

  // Routes one event through the table, then the framework defaults. True when handled
  // (answers, if any, in the event's fields); false means the system's default processing.
  bool dispatch(Event& event);
  bool dispatch(Event&& event) { return dispatch(event); }

 protected:
  virtual std::span<const EventEntry> eventTable() const { return {}; }
  virtual void onOK() { endDialog(IdOk); }
  virtual void onCancel() { endDialog(IdCancel); }

 private:
  int templateId_;
  DialogHost* host_;
};

}  // namespace tonalis
