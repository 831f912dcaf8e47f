// The GTK side of a CDialog: a top-level window built from the dialog's template (the
// main window: one drawing area; the About box: its labels, picture and button), a
// nested main loop as the modal run, GLib timers, and posting from any thread into the
// main loop. GDK's pointer and key events become the core's events in event_translation.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog.h"

namespace tonalis::lnx {

class LinuxDialogHost : public DialogHost {
 public:
  explicit LinuxDialogHost(LinuxDialogHost* owner = nullptr);
  ~LinuxDialogHost() override;
  LinuxDialogHost(const LinuxDialogHost&) = delete;
  LinuxDialogHost& operator=(const LinuxDialogHost&) = delete;

  GtkWindow* window() const { return window_; }
  CDialog* dialog() const { return dialog_; }  // the dialog running, or null
  GtkWidget* drawingArea() const { return area_; }
  // The widget of a template control, or null.
  GtkWidget* control(int controlId) const {
    const auto it = controls_.find(controlId);
    return it == controls_.end() ? nullptr : it->second;
  }

  // The main window exists (not yet shown, before the dialog's initialisation): the
  // backend binds its window port and presenter. `onDestroying`: just before it goes.
  std::function<void(GtkWindow* window, GtkWidget* area)> onCreated;
  std::function<void(GtkWindow* window)> onDestroying;
  // How the window is shown once the initialisation is over (the window port's show,
  // which keeps its place); plain gtk_widget_show when unset.
  std::function<void()> showWindow;
  // Every pointer event of the main window before the dialog sees it (the window port
  // keeps the press and the motion a system move starts from).
  std::function<void(const GdkEvent& event)> onPointer;

  // Runs an event through the dialog now (UI thread). True when a handler took it.
  bool deliver(Event& event);
  bool deliver(Event&& event) { return deliver(event); }

  intptr_t runModal(CDialog& dialog) override;
  void endModal(intptr_t result) override;
  bool dialogPreTranslate(const KeyPress& key) override;
  void post(const Event& event) override;
  void postQuit() override;
  // Nothing here waits on the window from another thread: posts and timers go through
  // the main loop's queue, which the modal loop serves anyway.
  void processSentMessages() override {}
  bool setTimer(uint32_t id, uint32_t periodMillis) override;
  void killTimer(uint32_t id) override;
  void appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) override;
  void setIcon(int iconId) override;
  bool isIconic() override;
  void paintIconic(int) override {}
  std::vector<Monitor> monitors() override;
  void setControlText(int controlId, std::string_view utf8Text) override;
  Rect controlScreenRect(int controlId) override;
  Point cursorPos() override;
  std::unique_ptr<DialogHost> createDialogHost() override;

 private:
  struct Mailbox;  // posted events and timers; outlives the host while any are pending
  void buildMainWindow();
  void buildAboutWindow();
  void buildEmptyWindow();
  void connectEvents(GtkWidget* widget);
  void askControlColors();
  void setTextColor(GtkWidget* control, int controlId, Rgb color);
  void setCursor(CursorShape shape);
  void startTimer(uint32_t id, uint32_t periodMillis);
  void popupSystemMenu(const GdkEvent* event);
  void destroyWindow();
  bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }
  static gboolean onEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  gboolean handleEvent(GdkEvent* event);
  static gboolean onDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean onTimer(gpointer data);
  static gboolean drainMailbox(gpointer mailbox);

  LinuxDialogHost* owner_;
  std::thread::id uiThread_;
  std::shared_ptr<Mailbox> mailbox_;
  CDialog* dialog_ = nullptr;
  GtkWindow* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  GMainLoop* loop_ = nullptr;
  bool ended_ = false;
  intptr_t result_ = IdCancel;
  std::map<int, GtkWidget*> controls_;
  std::map<uint32_t, guint> timers_;  // timer id -> GLib source
  struct TimerSource;  // what a GLib timer of the window calls back with
  std::vector<std::pair<uint32_t, std::string>> systemMenu_;
  GtkCssProvider* css_ = nullptr;
  struct EventKey {
    GdkEventType type;
    guint32 time;
    double x, y;
    guint keyval;
    bool operator==(const EventKey&) const = default;
  };
  std::optional<EventKey> lastEvent_;  // the event seen last, and what it was answered
  gboolean lastEventAnswer_ = FALSE;
};

}  // namespace tonalis::lnx
