#include "backend/linux/dialog_host.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <deque>
#include <mutex>

#include "about/about_dlg.h"
#include "app/tonalis_dlg.h"
#include "common/utf8.h"
#include "backend/linux/event_translation.h"
#include "backend/linux/tray_port.h"
#include "render/embedded_assets.h"

namespace tonalis::lnx {

namespace {

// Dialog units of the templates to pixels: 253 x 84 units make the 443 x 145 main window.
constexpr double UnitX = double(WindowWidth) / 253.0;
constexpr double UnitY = UnitX;

int px(double units, double scale) { return int(units * scale + 0.5); }

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
    if (asset.id == id) return pixbufFromBytes({asset.bytes, asset.size});
  }
  return nullptr;
}

}  // namespace

struct LinuxDialogHost::Mailbox {
  std::mutex mutex;
  LinuxDialogHost* host = nullptr;  // null once the host is gone
  bool open = false;                // a window is there to hear what is posted
  std::deque<std::optional<Event>> posted;           // nothing: the quit request
  std::deque<std::pair<uint32_t, uint32_t>> timers;  // asked for from other threads
  bool wakeQueued = false;

  // Called with the mutex held: one idle callback drains whatever is queued by then.
  void wake(const std::shared_ptr<Mailbox>& self) {
    if (wakeQueued) return;
    wakeQueued = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, drainMailbox, new std::shared_ptr<Mailbox>(self),
                    [](gpointer p) { delete static_cast<std::shared_ptr<Mailbox>*>(p); });
  }
};

struct LinuxDialogHost::TimerSource {
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
  }
  destroyWindow();
}

gboolean LinuxDialogHost::drainMailbox(gpointer data) {
  const std::shared_ptr<Mailbox> box = *static_cast<std::shared_ptr<Mailbox>*>(data);
  std::deque<std::optional<Event>> posted;
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
  for (std::optional<Event>& event : posted) {
    if (!event) {
      quitRequested = true;
      for (GMainLoop* loop : runningLoops()) g_main_loop_quit(loop);
      continue;
    }
    // An event may end the dialog and its window with it: the rest are dropped then, as
    // a destroyed window's queue is.
    {
      std::lock_guard lock(box->mutex);
      if (!box->host || !box->open) return G_SOURCE_REMOVE;
    }
    host->deliver(*event);
  }
  return G_SOURCE_REMOVE;
}

bool LinuxDialogHost::deliver(Event& event) {
  if (!dialog_) return false;
  // No C++ exception may unwind into GTK's C code that called us: a failed handler
  // leaves the event to default processing and the program goes on.
  try {
    return dialog_->dispatch(event);
  } catch (...) {
    g_warning("Tonalis: an event handler failed");
  }
  return false;
}

intptr_t LinuxDialogHost::runModal(CDialog& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  result_ = IdCancel;
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
  {
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->open = true;
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
  {
    // What was posted for this window and not yet delivered goes with it.
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->open = false;
    mailbox_->posted.clear();
  }
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
                     static_cast<LinuxDialogHost*>(self)->deliver(Command{IdOk});
                   }),
                   this);
  controls_[int(IdOk)] = ok;
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
  for (int id : ids) {
    Event request = ControlColorRequest{id, std::nullopt};
    if (!deliver(request)) continue;
    const auto& answer = std::get<ControlColorRequest>(request);
    const auto it = controls_.find(id);
    if (answer.textColor && it != controls_.end()) setTextColor(it->second, id, *answer.textColor);
  }
}

void LinuxDialogHost::setTextColor(GtkWidget* control, int controlId, Rgb color) {
  char css[96];
  const int r = int((color >> 16) & 0xFF), g = int((color >> 8) & 0xFF), b = int(color & 0xFF);
  const std::string name = "control" + std::to_string(controlId);
  gtk_widget_set_name(control, name.c_str());
  g_snprintf(css, sizeof css, "#%s { color: #%02x%02x%02x; }", name.c_str(), r, g, b);
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(control), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  g_object_unref(provider);
}

gboolean LinuxDialogHost::onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<LinuxDialogHost*>(data)->deliver(CloseRequest{});
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
  std::optional<Event> translated = eventFromGdk(*event);
  if (!translated) return FALSE;
  if (std::holds_alternative<PointerMove>(*translated) && !self->area_) {
    // The cursor over the dialog: its shape is the dialog's choice, the arrow otherwise.
    Event request = CursorRequest{};
    const bool handled = self->deliver(request);
    self->setCursor(handled ? std::get<CursorRequest>(request).shape : CursorShape::Default);
  }
  if (const auto* key = std::get_if<KeyPress>(&*translated)) {
    bool consumed = false;
    try {
      consumed = self->dialog_->preTranslateMessage(*key);
    } catch (...) {
    }
    if (consumed) return TRUE;
  }
  self->deliver(*translated);
  // The main window's surface is all the program's; the About box's button takes its own.
  return self->area_ != nullptr;
}

bool LinuxDialogHost::dialogPreTranslate(const KeyPress& key) {
  // The dialog keys: Enter is the default button, Escape cancels.
  if (area_ || key.key == Key::Other) return false;
  deliver(Command{key.key == Key::Enter ? IdOk : IdCancel});
  return true;
}

void LinuxDialogHost::post(const Event& event) {
  std::lock_guard lock(mailbox_->mutex);
  // Without a window there is no one to hear it: dropped, as on a window that is gone.
  if (!mailbox_->open) return;
  mailbox_->posted.emplace_back(event);
  mailbox_->wake(mailbox_);
}

void LinuxDialogHost::postQuit() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->posted.emplace_back(std::nullopt);
  mailbox_->wake(mailbox_);
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
  auto* tick = new TimerSource{this, id};
  timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, std::max<uint32_t>(periodMillis, 1), onTimer, tick,
                                   [](gpointer p) { delete static_cast<TimerSource*>(p); });
}

gboolean LinuxDialogHost::onTimer(gpointer data) {
  const auto* tick = static_cast<TimerSource*>(data);
  tick->host->deliver(TimerTick{tick->id});
  return G_SOURCE_CONTINUE;
}

void LinuxDialogHost::killTimer(uint32_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second);
  timers_.erase(it);
}

void LinuxDialogHost::appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) {
  if (!utf8Label.empty()) systemMenu_.emplace_back(commandId, repairUtf8(utf8Label));
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
                       static_cast<LinuxDialogHost*>(self)->deliver(SystemCommand{id});
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

std::vector<Monitor> LinuxDialogHost::monitors() {
  std::vector<Monitor> list;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return list;
  const auto toRect = [](const GdkRectangle& g) { return Rect{g.x, g.y, g.x + g.width, g.y + g.height}; };
  GdkMonitor* primary = gdk_display_get_primary_monitor(display);
  for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle area, work;
    gdk_monitor_get_geometry(monitor, &area);
    gdk_monitor_get_workarea(monitor, &work);
    // Without a primary monitor (some Wayland compositors) the first one stands in.
    const bool isPrimary = primary ? monitor == primary : i == 0;
    list.push_back({toRect(area), toRect(work), isPrimary, double(gdk_monitor_get_scale_factor(monitor))});
  }
  return list;
}

void LinuxDialogHost::setControlText(int controlId, std::string_view utf8Text) {
  const auto it = controls_.find(controlId);
  if (it == controls_.end()) return;
  // The About box's texts come from outside (the program's path, its dates): GTK blanks
  // a label that is not UTF-8.
  const std::string text = repairUtf8(withoutCarriageReturns(utf8Text));
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

void LinuxDialogHost::setCursor(CursorShape shape) {
  if (!window_) return;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  if (!gdk) return;
  if (shape == CursorShape::Default) {
    gdk_window_set_cursor(gdk, nullptr);
    return;
  }
  GdkCursor* hand = gdk_cursor_new_from_name(gdk_window_get_display(gdk), "pointer");
  gdk_window_set_cursor(gdk, hand);
  if (hand) g_object_unref(hand);
}

std::unique_ptr<DialogHost> LinuxDialogHost::createDialogHost() { return std::make_unique<LinuxDialogHost>(this); }

}  // namespace tonalis::lnx
