#include "platform/linux/dialog_host.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "about/about_dlg.h"
#include "app/tonalis_dlg.h"
#include "platform/linux/tray_port.h"
#include "render/embedded_assets.h"

namespace tonalis::lnx {

namespace {

// Mouse messages beyond the portable set, and the key-state bits of their wParam.
constexpr uint32_t WM_RBUTTONDBLCLK_ = 0x0206, WM_MBUTTONUP_ = 0x0208, WM_MBUTTONDBLCLK_ = 0x0209;
constexpr uintptr_t MK_LBUTTON_ = 0x0001, MK_RBUTTON_ = 0x0002, MK_SHIFT_ = 0x0004, MK_CONTROL_ = 0x0008,
                    MK_MBUTTON_ = 0x0010;
constexpr uint32_t VK_SPACE_ = 0x20;

// Dialog units of the templates to pixels: 253 x 84 units make the 443 x 145 main window.
constexpr double UnitX = double(WindowWidth) / 253.0;
constexpr double UnitY = UnitX;

int px(double units, double scale) { return int(units * scale + 0.5); }

uintptr_t buttonBit(guint button) {
  switch (button) {
    case 1: return MK_LBUTTON_;
    case 2: return MK_MBUTTON_;
    case 3: return MK_RBUTTON_;
    default: return 0;
  }
}

uintptr_t keyState(guint state) {
  uintptr_t w = 0;
  if (state & GDK_BUTTON1_MASK) w |= MK_LBUTTON_;
  if (state & GDK_BUTTON2_MASK) w |= MK_MBUTTON_;
  if (state & GDK_BUTTON3_MASK) w |= MK_RBUTTON_;
  if (state & GDK_SHIFT_MASK) w |= MK_SHIFT_;
  if (state & GDK_CONTROL_MASK) w |= MK_CONTROL_;
  return w;
}

// Client coordinates as a mouse message's lParam: x in the low word, y in the high one,
// each a signed 16-bit value.
intptr_t packPoint(double x, double y) {
  const uint32_t lo = uint32_t(int32_t(x)) & 0xFFFFu, hi = uint32_t(int32_t(y)) & 0xFFFFu;
  return intptr_t(hi << 16 | lo);
}

std::optional<uint32_t> virtualKey(guint keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return uint32_t('A' + (keyval - GDK_KEY_a));
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return uint32_t('A' + (keyval - GDK_KEY_A));
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return uint32_t('0' + (keyval - GDK_KEY_0));
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return uint32_t(0x70 + (keyval - GDK_KEY_F1));
  switch (keyval) {
    case GDK_KEY_Escape: return VK_ESCAPE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: return VK_RETURN;
    case GDK_KEY_space: return VK_SPACE_;
    case GDK_KEY_Tab: return 0x09;
    case GDK_KEY_BackSpace: return 0x08;
    case GDK_KEY_Left: return 0x25;
    case GDK_KEY_Up: return 0x26;
    case GDK_KEY_Right: return 0x27;
    case GDK_KEY_Down: return 0x28;
    default: return std::nullopt;
  }
}

// Every modal loop running, innermost last: a quit request ends them all.
std::vector<GMainLoop*>& runningLoops() {
  static std::vector<GMainLoop*> loops;
  return loops;
}
bool quitRequested = false;

std::string withoutCarriageReturns(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

GdkPixbuf* bitmapPixbuf(int id) {
  for (const EmbeddedAsset& asset : embeddedAssets()) {
    if (asset.id != id) continue;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, asset.bytes, asset.size, nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
      pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
      if (pixbuf) g_object_ref(pixbuf);
    } else {
      gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
  }
  return nullptr;
}

}  // namespace

std::optional<Message> messageFromEvent(const GdkEvent& event) {
  switch (event.type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
      const GdkEventButton& b = event.button;
      static constexpr uint32_t down[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
      static constexpr uint32_t up[] = {WM_LBUTTONUP, WM_MBUTTONUP_, WM_RBUTTONUP};
      static constexpr uint32_t dbl[] = {WM_LBUTTONDBLCLK, WM_MBUTTONDBLCLK_, WM_RBUTTONDBLCLK_};
      if (b.button < 1 || b.button > 3) return std::nullopt;
      const size_t i = b.button - 1;
      // GDK gives the state before the event; the message's key state is after it.
      uintptr_t keys = keyState(b.state);
      if (event.type == GDK_BUTTON_RELEASE) {
        keys &= ~buttonBit(b.button);
      } else {
        keys |= buttonBit(b.button);
      }
      const uint32_t id = event.type == GDK_BUTTON_PRESS ? down[i] : event.type == GDK_2BUTTON_PRESS ? dbl[i] : up[i];
      return Message{id, keys, packPoint(b.x, b.y)};
    }
    case GDK_MOTION_NOTIFY:
      return Message{WM_MOUSEMOVE, keyState(event.motion.state), packPoint(event.motion.x, event.motion.y)};
    case GDK_KEY_PRESS:
      if (const auto vk = virtualKey(event.key.keyval)) return Message{WM_KEYDOWN, *vk, 0};
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

struct LinuxDialogHost::Mailbox {
  struct Sent {
    Message message;
    intptr_t result = 0;
    bool done = false;
  };
  std::mutex mutex;
  std::condition_variable answered;
  LinuxDialogHost* host = nullptr;  // null once the host is gone
  std::deque<Message> posted;
  std::deque<std::shared_ptr<Sent>> sent;
  std::deque<std::pair<uint32_t, uint32_t>> timers;  // asked for from other threads
  bool wakeQueued = false;

  // Called with the mutex held: one idle callback drains whatever is queued by then.
  void wake(const std::shared_ptr<Mailbox>& self) {
    if (wakeQueued) return;
    wakeQueued = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, drainMailbox, new std::shared_ptr<Mailbox>(self),
                    [](gpointer p) { delete static_cast<std::shared_ptr<Mailbox>*>(p); });
  }
  // Answers the sends waiting (UI thread).
  void answerSent() {
    for (;;) {
      std::shared_ptr<Sent> item;
      LinuxDialogHost* target;
      {
        std::lock_guard lock(mutex);
        if (sent.empty()) return;
        item = sent.front();
        sent.pop_front();
        target = host;
      }
      const intptr_t result = target ? target->deliver(item->message) : 0;
      std::lock_guard lock(mutex);
      item->result = result;
      item->done = true;
      answered.notify_all();
    }
  }
};

struct LinuxDialogHost::TimerTick {
  LinuxDialogHost* host;
  uint32_t id;
};

LinuxDialogHost::LinuxDialogHost(LinuxDialogHost* owner)
    : owner_(owner), uiThread_(std::this_thread::get_id()), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->host = this;
}

LinuxDialogHost::~LinuxDialogHost() {
  {
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->host = nullptr;
    for (auto& item : mailbox_->sent) item->done = true;
    mailbox_->sent.clear();
    mailbox_->answered.notify_all();
  }
  destroyWindow();
}

gboolean LinuxDialogHost::drainMailbox(gpointer data) {
  const std::shared_ptr<Mailbox> box = *static_cast<std::shared_ptr<Mailbox>*>(data);
  box->answerSent();
  std::deque<Message> posted;
  std::deque<std::pair<uint32_t, uint32_t>> timers;
  LinuxDialogHost* host;
  {
    std::lock_guard lock(box->mutex);
    box->wakeQueued = false;
    posted.swap(box->posted);
    timers.swap(box->timers);
    host = box->host;
  }
  if (!host) return G_SOURCE_REMOVE;
  for (const auto& [id, period] : timers) host->startTimer(id, period);
  for (const Message& message : posted) {
    if (message.id == WM_QUIT) {
      quitRequested = true;
      for (GMainLoop* loop : runningLoops()) g_main_loop_quit(loop);
      continue;
    }
    // A message may end the dialog and its host with it: the rest are dropped then, as
    // a destroyed window's queue is.
    {
      std::lock_guard lock(box->mutex);
      if (!box->host) return G_SOURCE_REMOVE;
    }
    host->deliver(message);
  }
  return G_SOURCE_REMOVE;
}

intptr_t LinuxDialogHost::deliver(const Message& message) {
  if (!dialog_) return 0;
  intptr_t result = 0;
  // No C++ exception may unwind into GTK's C code that called us: a failed handler
  // leaves the message to default processing and the program goes on.
  try {
    if (dialog_->dispatch(message, result)) return result;
  } catch (...) {
    g_warning("Tonalis: a message handler failed");
  }
  return defaultProcessing(message);
}

intptr_t LinuxDialogHost::runModal(CDialog& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  result_ = IDCANCEL;
  if (dialog.templateId() == CTonalisDlg::TemplateId) {
    buildMainWindow();
  } else if (dialog.templateId() == CAboutDlg::TemplateId) {
    buildAboutWindow();
  } else {
    buildEmptyWindow();
  }
  if (owner_ && owner_->window_) {
    gtk_window_set_transient_for(window_, owner_->window_);
    gtk_window_set_modal(window_, TRUE);
  }
  bool initialised = false;
  try {
    dialog.onInitDialog();
    initialised = true;
  } catch (...) {
    g_warning("Tonalis: a dialog failed to start");
  }
  if (initialised && dialog.templateId() == CAboutDlg::TemplateId) askControlColors();
  // Like the modal loop of the framework it replaces: the window is shown once its
  // initialisation is over, even if the initialisation hid it.
  if (initialised && !ended_ && !quitRequested) {
    if (showWindow) {
      showWindow();
    } else {
      gtk_widget_show(GTK_WIDGET(window_));
    }
    loop_ = g_main_loop_new(nullptr, FALSE);
    runningLoops().push_back(loop_);
    g_main_loop_run(loop_);
    std::erase(runningLoops(), loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }
  destroyWindow();
  dialog_ = nullptr;
  return initialised ? result_ : -1;
}

void LinuxDialogHost::endModal(intptr_t result) {
  result_ = result;
  ended_ = true;
  if (loop_) g_main_loop_quit(loop_);
}

void LinuxDialogHost::destroyWindow() {
  for (const auto& [id, source] : timers_) g_source_remove(source);
  timers_.clear();
  if (!window_) return;
  if (onDestroying && area_) onDestroying(window_);
  GtkWidget* widget = GTK_WIDGET(window_);
  window_ = nullptr;
  area_ = nullptr;
  controls_.clear();
  gtk_widget_destroy(widget);
  if (css_) g_object_unref(css_);
  css_ = nullptr;
}

void LinuxDialogHost::connectEvents(GtkWidget* widget) {
  gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                    GDK_KEY_PRESS_MASK);
}

void LinuxDialogHost::buildMainWindow() {
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_default_size(window_, WindowWidth, WindowHeight);
  area_ = gtk_drawing_area_new();
  connectEvents(area_);
  connectEvents(GTK_WIDGET(window_));
  gtk_container_add(GTK_CONTAINER(window_), area_);
  gtk_widget_show(area_);
  controls_[CTonalisDlg::DrawAreaId] = area_;
  g_signal_connect(window_, "event", G_CALLBACK(onEvent), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
  if (onCreated) onCreated(window_, area_);
}

void LinuxDialogHost::buildEmptyWindow() {
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  connectEvents(GTK_WIDGET(window_));
  g_signal_connect(window_, "event", G_CALLBACK(onEvent), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

void LinuxDialogHost::buildAboutWindow() {
  // The About template: labels, the picture and the button at their places, in pixels
  // from dialog units; a thin border and no caption.
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_title(window_, "Tonalis");
  gtk_window_set_decorated(window_, FALSE);
  gtk_window_set_resizable(window_, FALSE);
  gtk_window_set_type_hint(window_, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(window_, GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_window_set_skip_taskbar_hint(window_, TRUE);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, px(119, UnitX), px(181, UnitY));
  gtk_container_add(GTK_CONTAINER(window_), fixed);
  css_ = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css_,
                                  "window { border: 1px solid #646464; background: #f0f0f0; }"
                                  " label, button { font-size: 9pt; }",
                                  -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(css_),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  auto place = [&](GtkWidget* w, int x, int y, int width, int height) {
    gtk_widget_set_size_request(w, px(width, UnitX), px(height, UnitY));
    gtk_fixed_put(GTK_FIXED(fixed), w, px(x, UnitX), px(y, UnitY));
    gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(css_),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  };
  auto label = [&](const char* text, int id, int x, int y, int width, int height) {
    GtkWidget* w = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(w), 0);
    gtk_label_set_yalign(GTK_LABEL(w), 0);
    place(w, x, y, width, height);
    if (id > 0) controls_[id] = w;
  };
  const char* names[] = {"Name", "Author", "Version", "Create", "Modify", "Email", "QQ"};
  for (int i = 0; i < 7; ++i) label(names[i], -1, 9, 5 + 10 * i, 27, 11);
  label("", CAboutDlg::ProgramId, 36, 5, 73, 11);
  label("", CAboutDlg::AuthorId, 36, 15, 71, 11);
  label("", CAboutDlg::VersionId, 36, 25, 47, 11);
  label("", CAboutDlg::CreatedId, 36, 35, 51, 11);
  label("", CAboutDlg::ModifiedId, 36, 45, 51, 11);
  label("", CAboutDlg::EmailId, 36, 55, 74, 11);
  label("", CAboutDlg::MessengerId, 36, 65, 66, 11);
  // The picture keeps its own size, as a bitmap control does.
  GtkWidget* picture = gtk_image_new();
  if (GdkPixbuf* pixbuf = bitmapPixbuf(188)) {
    gtk_image_set_from_pixbuf(GTK_IMAGE(picture), pixbuf);
    g_object_unref(pixbuf);
  }
  gtk_fixed_put(GTK_FIXED(fixed), picture, px(1, UnitX), px(80, UnitY));
  controls_[CAboutDlg::PictureId] = picture;
  label("静态", CAboutDlg::LinkId, 10, 139, 96, 18);
  GtkWidget* ok = gtk_button_new_with_label("OK");
  place(ok, 42, 163, 27, 14);
  g_signal_connect(ok, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                     static_cast<LinuxDialogHost*>(self)->deliver({WM_COMMAND, uintptr_t(IDOK), 0});
                   }),
                   this);
  controls_[int(IDOK)] = ok;
  gtk_widget_show_all(fixed);
  connectEvents(GTK_WIDGET(window_));
  g_signal_connect(window_, "event", G_CALLBACK(onEvent), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
  gtk_widget_grab_focus(ok);
}

void LinuxDialogHost::askControlColors() {
  // The dialog picks its labels' text colours as it would for the system's asking.
  std::vector<int> ids;
  for (const auto& [id, widget] : controls_) {
    if (GTK_IS_LABEL(widget)) ids.push_back(id);
  }
  for (int id : ids) deliver({WM_CTLCOLORSTATIC, 0, intptr_t(id)});
}

intptr_t LinuxDialogHost::controlColors(const Message& message, std::optional<ColorRef> textColor) {
  const auto it = controls_.find(int(message.lParam));
  if (it == controls_.end() || !textColor || !css_) return 0;
  char css[96];
  const int r = int(*textColor & 0xFF), g = int((*textColor >> 8) & 0xFF), b = int((*textColor >> 16) & 0xFF);
  const std::string name = "control" + std::to_string(it->first);
  gtk_widget_set_name(it->second, name.c_str());
  g_snprintf(css, sizeof css, "#%s { color: #%02x%02x%02x; }", name.c_str(), r, g, b);
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(it->second), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  g_object_unref(provider);
  return 0;
}

gboolean LinuxDialogHost::onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<LinuxDialogHost*>(data)->deliver({WM_CLOSE, 0, 0});
  return TRUE;  // the dialog decides when its window goes
}

gboolean LinuxDialogHost::onEvent(GtkWidget*, GdkEvent* event, gpointer data) {
  auto* self = static_cast<LinuxDialogHost*>(data);
  if (!self->dialog_) return FALSE;
  // GTK may hand a modal window the same event twice (its grab's route and its own): it
  // is one event to the dialog.
  EventKey key{event->type, gdk_event_get_time(event), 0, 0, 0};
  gdk_event_get_coords(event, &key.x, &key.y);
  gdk_event_get_keyval(event, &key.keyval);
  if (self->lastEvent_ && *self->lastEvent_ == key) return self->lastEventAnswer_;
  self->lastEvent_ = key;
  self->lastEventAnswer_ = self->handleEvent(event);
  return self->lastEventAnswer_;
}

gboolean LinuxDialogHost::handleEvent(GdkEvent* event) {
  LinuxDialogHost* self = this;
  const bool pointer = event->type == GDK_BUTTON_PRESS || event->type == GDK_2BUTTON_PRESS ||
                       event->type == GDK_BUTTON_RELEASE || event->type == GDK_MOTION_NOTIFY;
  if (pointer && self->area_ && self->onPointer) self->onPointer(*event);
  if (event->type == GDK_KEY_PRESS && event->key.keyval == GDK_KEY_space && (event->key.state & GDK_MOD1_MASK)) {
    self->popupSystemMenu(event);
    return TRUE;
  }
  const std::optional<Message> message = messageFromEvent(*event);
  if (!message) return FALSE;
  if (message->id == WM_MOUSEMOVE && !self->area_) {
    // The cursor over the dialog: its shape is the dialog's choice, the arrow otherwise.
    intptr_t result = 0;
    bool handled = false;
    try {
      handled = self->dialog_->dispatch({WM_SETCURSOR, 0, 0}, result);
    } catch (...) {
    }
    if (!handled && self->window_) gdk_window_set_cursor(gtk_widget_get_window(GTK_WIDGET(self->window_)), nullptr);
  }
  if (message->id == WM_KEYDOWN) {
    bool consumed = false;
    try {
      consumed = self->dialog_->preTranslateMessage(*message);
    } catch (...) {
    }
    if (consumed) return TRUE;
  }
  self->deliver(*message);
  // The main window's surface is all the program's; the About box's button takes its own.
  return self->area_ != nullptr;
}

intptr_t LinuxDialogHost::defaultProcessing(const Message&) { return 0; }

bool LinuxDialogHost::dialogPreTranslate(const Message& message) {
  // The dialog keys: Enter is the default button, Escape cancels.
  if (area_ || message.id != WM_KEYDOWN) return false;
  if (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) {
    deliver({WM_COMMAND, uintptr_t(message.wParam == VK_RETURN ? IDOK : IDCANCEL), 0});
    return true;
  }
  return false;
}

intptr_t LinuxDialogHost::sendMessage(const Message& message) {
  if (onUiThread()) return deliver(message);
  auto item = std::make_shared<Mailbox::Sent>();
  item->message = message;
  std::unique_lock lock(mailbox_->mutex);
  if (!mailbox_->host) return 0;
  mailbox_->sent.push_back(item);
  mailbox_->wake(mailbox_);
  mailbox_->answered.wait(lock, [&] { return item->done; });
  return item->result;
}

void LinuxDialogHost::postMessage(const Message& message) {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->posted.push_back(message);
  mailbox_->wake(mailbox_);
}

void LinuxDialogHost::processSentMessages() {
  if (onUiThread()) mailbox_->answerSent();
}

bool LinuxDialogHost::setTimer(uint32_t id, uint32_t periodMillis) {
  if (onUiThread()) {
    startTimer(id, periodMillis);
    return true;
  }
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->timers.emplace_back(id, periodMillis);
  mailbox_->wake(mailbox_);
  return true;
}

void LinuxDialogHost::startTimer(uint32_t id, uint32_t periodMillis) {
  // Setting a timer again restarts it with the new period.
  killTimer(id);
  auto* tick = new TimerTick{this, id};
  timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, std::max<uint32_t>(periodMillis, 1), onTimer, tick,
                                   [](gpointer p) { delete static_cast<TimerTick*>(p); });
}

gboolean LinuxDialogHost::onTimer(gpointer data) {
  const auto* tick = static_cast<TimerTick*>(data);
  tick->host->deliver({WM_TIMER, tick->id, 0});
  return G_SOURCE_CONTINUE;
}

void LinuxDialogHost::killTimer(uint32_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second);
  timers_.erase(it);
}

void LinuxDialogHost::appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) {
  if (!utf8Label.empty()) systemMenu_.emplace_back(commandId, std::string(utf8Label));
}

void LinuxDialogHost::popupSystemMenu(const GdkEvent* event) {
  // The window has no caption: its system menu opens with Alt+Space, as on Windows.
  if (systemMenu_.empty() || !window_) return;
  GtkWidget* menu = gtk_menu_new();
  for (const auto& [id, label] : systemMenu_) {
    GtkWidget* item = gtk_menu_item_new_with_label(label.c_str());
    g_object_set_data(G_OBJECT(item), "tonalis-syscommand", GUINT_TO_POINTER(id));
    g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* item, gpointer self) {
                       const uint32_t id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "tonalis-syscommand"));
                       static_cast<LinuxDialogHost*>(self)->deliver({WM_SYSCOMMAND, id, 0});
                     }),
                     this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  gtk_widget_show_all(menu);
  gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(window_), nullptr);
  // The menu goes once closed and its choice made (a choice comes before the close
  // notification reaches an idle callback).
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer) {
                     g_idle_add(+[](gpointer w) -> gboolean {
                       gtk_widget_destroy(GTK_WIDGET(w));
                       return G_SOURCE_REMOVE;
                     },
                                shell);
                   }),
                   nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
}

void LinuxDialogHost::setIcon(int) {
  if (!window_) return;
  if (GdkPixbuf* icon = loadProgramIcon()) {
    gtk_window_set_icon(window_, icon);
    g_object_unref(icon);
  }
}

bool LinuxDialogHost::isIconic() {
  if (!window_) return false;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  return gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED);
}

Point LinuxDialogHost::screenSize() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return {};
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return {};
  GdkRectangle g;
  gdk_monitor_get_geometry(monitor, &g);
  return {g.width, g.height};
}

void LinuxDialogHost::setControlText(int controlId, std::string_view utf8Text) {
  const auto it = controls_.find(controlId);
  if (it == controls_.end()) return;
  const std::string text = withoutCarriageReturns(utf8Text);
  if (GTK_IS_LABEL(it->second)) gtk_label_set_text(GTK_LABEL(it->second), text.c_str());
  if (GTK_IS_BUTTON(it->second)) gtk_button_set_label(GTK_BUTTON(it->second), text.c_str());
}

Rect LinuxDialogHost::controlScreenRect(int controlId) {
  const auto it = controls_.find(controlId);
  if (it == controls_.end() || !window_) return {};
  GdkWindow* top = gtk_widget_get_window(GTK_WIDGET(window_));
  if (!top) return {};
  int originX = 0, originY = 0, x = 0, y = 0;
  gdk_window_get_origin(top, &originX, &originY);
  gtk_widget_translate_coordinates(it->second, GTK_WIDGET(window_), 0, 0, &x, &y);
  GtkAllocation a;
  gtk_widget_get_allocation(it->second, &a);
  return {originX + x, originY + y, originX + x + a.width, originY + y + a.height};
}

Point LinuxDialogHost::cursorPos() {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return {};
  int x = 0, y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  return {x, y};
}

void LinuxDialogHost::setHandCursor() {
  if (!window_) return;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  if (!gdk) return;
  GdkCursor* hand = gdk_cursor_new_from_name(gdk_window_get_display(gdk), "pointer");
  gdk_window_set_cursor(gdk, hand);
  if (hand) g_object_unref(hand);
}

std::unique_ptr<DialogHost> LinuxDialogHost::createDialogHost() { return std::make_unique<LinuxDialogHost>(this); }

}  // namespace tonalis::lnx
