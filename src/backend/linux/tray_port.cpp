#include "backend/linux/tray_port.h"

#include <libayatana-appindicator/app-indicator.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/utf8.h"
// Last: X11's headers define macros that clash with other names.
#include <gdk/gdkx.h>

namespace tonalis::lnx {

namespace {

constexpr const char* CommandKey = "tonalis-command";
constexpr const char* IndicatorId = "tonalis";

}  // namespace

GdkPixbuf* pixbufFromBytes(std::span<const unsigned char> bytes) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GdkPixbuf* pixbuf = nullptr;
  if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf) g_object_ref(pixbuf);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_object_unref(loader);
  return pixbuf;
}

GdkPixbuf* loadProgramIcon() { return pixbufFromBytes(programIconFile()); }

void fillGtkMenu(GtkMenuShell* menu, const std::vector<MenuItem>& items,
                 void (*activated)(GtkMenuItem*, gpointer), gpointer data) {
  for (const MenuItem& item : items) {
    GtkWidget* widget = nullptr;
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        widget = gtk_separator_menu_item_new();
        break;
      case MenuItem::Kind::SubMenu: {
        widget = gtk_menu_item_new_with_label(repairUtf8(item.label).c_str());
        GtkWidget* sub = gtk_menu_new();
        fillGtkMenu(GTK_MENU_SHELL(sub), item.children, activated, data);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), sub);
        break;
      }
      case MenuItem::Kind::Command:
        // Labels carry device names, which the system does not promise are UTF-8; the
        // exported menu refuses (and blanks) a label that is not.
        const std::string label = repairUtf8(item.label);
        if (item.checked || item.radio) {
          widget = gtk_check_menu_item_new_with_label(label.c_str());
          gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(widget), item.radio);
          // Before the handler: setting the state activates the item.
          gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
        } else {
          widget = gtk_menu_item_new_with_label(label.c_str());
        }
        g_object_set_data(G_OBJECT(widget), CommandKey, GUINT_TO_POINTER(item.id));
        if (activated) g_signal_connect(widget, "activate", G_CALLBACK(activated), data);
        break;
    }
    gtk_widget_set_sensitive(widget, item.enabled);
    gtk_widget_show(widget);
    gtk_menu_shell_append(menu, widget);
  }
}

uint32_t menuItemCommand(GtkWidget* item) {
  return item ? GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), CommandKey)) : 0;
}

std::string trayTitle(std::string_view tip, bool composited, bool placedByDesktop) {
  std::string title = repairUtf8(tip);  // it names devices, and goes over D-Bus
  auto note = [&title](std::string_view line) {
    if (!title.empty()) title += '\n';
    title += line;
  };
  if (!composited) note(NoCompositorNote);
  if (placedByDesktop) note(NoLayerShellNote);
  return title;
}

bool throughXWayland() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  GdkDisplay* display = gdk_display_get_default();
  return wayland && *wayland && display && GDK_IS_X11_DISPLAY(display);
}

LinuxTrayPort::LinuxTrayPort(Events events, uint32_t activationCommand)
    : events_(std::move(events)), activationCommand_(activationCommand) {
  // Whether transparency can show is part of the tip, and may change while the program runs.
  if (GdkScreen* screen = gdk_screen_get_default()) {
    screen_ = screen;
    compositedHandler_ = g_signal_connect(screen, "composited-changed", G_CALLBACK(onCompositedChanged), this);
  }
}

void LinuxTrayPort::onCompositedChanged(GdkScreen*, gpointer self) {
  static_cast<LinuxTrayPort*>(self)->showTitle();
}

void LinuxTrayPort::showTitle() {
  if (!indicator_) return;
  const bool composited = screen_ && gdk_screen_is_composited(screen_);
  app_indicator_set_title(indicator_, trayTitle(tip_, composited, throughXWayland()).c_str());
}

LinuxTrayPort::~LinuxTrayPort() {
  if (screen_ && compositedHandler_) g_signal_handler_disconnect(screen_, compositedHandler_);
  if (menuRequest_) g_source_remove(menuRequest_);
  if (menuRoot_ && aboutToShowHandler_) g_signal_handler_disconnect(menuRoot_, aboutToShowHandler_);
  if (menuRoot_) g_object_unref(menuRoot_);
  if (indicator_) {
    app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(indicator_);
  }
  if (menu_) g_object_unref(menu_);
  if (!iconPath_.empty()) ::unlink(iconPath_.c_str());
}

std::string LinuxTrayPort::iconFolder() {
  // The desktop reads the icon by name from a folder: a private one under the runtime
  // folder (the user's own, cleared at logout), else the temporary folder.
  // The folder goes over D-Bus as the icon's theme path, where only UTF-8 is allowed: one
  // that is not cannot be named there, and the themed icon stands in.
  const char* runtime = g_get_user_runtime_dir();
  std::string folder = std::string(runtime && *runtime ? runtime : g_get_tmp_dir()) + "/tonalis-icon-" +
                       std::to_string(::getuid());
  if (!isValidUtf8(folder)) return {};
  g_mkdir_with_parents(folder.c_str(), 0700);
  return folder;
}

bool LinuxTrayPort::addIcon(uint32_t, std::string_view tip) {
  tip_ = std::string(tip);
  if (!indicator_) {
    // The installed theme icon when there is one; the program's own otherwise.
    std::string iconName = IndicatorId;
    std::string themePath;
    if (!gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), IndicatorId)) {
      const std::string folder = iconFolder();
      GdkPixbuf* pixbuf = folder.empty() ? nullptr : loadProgramIcon();
      if (pixbuf) {
        const std::string path = folder + "/tonalis-program.png";
        if (gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr)) {
          themePath = folder;
          iconPath_ = path;
          iconName = "tonalis-program";
        }
        g_object_unref(pixbuf);
      }
    }
    indicator_ = themePath.empty()
                     ? app_indicator_new(IndicatorId, iconName.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS)
                     : app_indicator_new_with_path(IndicatorId, iconName.c_str(),
                                                   APP_INDICATOR_CATEGORY_APPLICATION_STATUS, themePath.c_str());
    if (!indicator_) return false;
    menu_ = gtk_menu_new();
    g_object_ref_sink(menu_);
    app_indicator_set_menu(indicator_, GTK_MENU(menu_));
    watchMenuRoot();
  }
  showTitle();
  app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
  shown_ = true;
  // A desktop may read the menu before it announces an opening: have it ready.
  scheduleMenuRequest();
  return true;
}

void LinuxTrayPort::watchMenuRoot() {
  // The exported menu's root node says when the desktop is about to show the menu.
  GObject* server = nullptr;
  g_object_get(indicator_, "dbus-menu-server", &server, nullptr);
  if (!server) return;
  GObject* root = nullptr;
  g_object_get(server, "root-node", &root, nullptr);
  g_object_unref(server);
  if (!root) return;
  menuRoot_ = root;
  aboutToShowHandler_ = g_signal_connect(root, "about-to-show", G_CALLBACK(onAboutToShow), this);
}

gboolean LinuxTrayPort::onAboutToShow(GObject*, gpointer data) {
  auto* self = static_cast<LinuxTrayPort*>(data);
  // Now, while the desktop waits: it reads the layout right after this answer.
  if (self->events_.menuWanted) self->events_.menuWanted();
  return TRUE;
}

void LinuxTrayPort::scheduleMenuRequest() {
  if (menuRequest_) return;
  menuRequest_ = g_idle_add(requestMenu, this);
}

gboolean LinuxTrayPort::requestMenu(gpointer data) {
  auto* self = static_cast<LinuxTrayPort*>(data);
  self->menuRequest_ = 0;
  if (self->shown_ && self->events_.menuWanted) self->events_.menuWanted();
  return G_SOURCE_REMOVE;
}

void LinuxTrayPort::removeIcon() {
  if (!indicator_ || !shown_) return;
  app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_PASSIVE);
  shown_ = false;
}

void LinuxTrayPort::setTip(std::string_view tip) {
  tip_ = std::string(tip);
  // The indicator's title is what desktops show on hover (kept for an icon added later).
  showTitle();
}

GVariant* notificationParameters(std::string_view title, std::string_view text, std::string_view icon) {
  // Paths and device names may hold anything; D-Bus strings must be UTF-8.
  const std::string titleText = repairUtf8(title), bodyText = repairUtf8(text), iconText = repairUtf8(icon);
  GVariantBuilder actions, hints;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
  return g_variant_new("(susssasa{sv}i)", "Tonalis", 0u, iconText.c_str(), titleText.c_str(), bodyText.c_str(),
                       &actions, &hints, -1);
}

void LinuxTrayPort::showBalloon(std::string_view title, std::string_view text) {
  if (!shown_) return;
  // A desktop notification; without a notification service the call fails quietly.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", "Notify",
                         notificationParameters(title, text, iconPath_.empty() ? "tonalis" : iconPath_), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr, nullptr);
  g_object_unref(bus);
}

void LinuxTrayPort::trackMenu(const std::vector<MenuItem>& items) {
  if (!menu_) return;
  GList* old = gtk_container_get_children(GTK_CONTAINER(menu_));
  for (GList* i = old; i; i = i->next) gtk_widget_destroy(GTK_WIDGET(i->data));
  g_list_free(old);
  fillGtkMenu(GTK_MENU_SHELL(menu_), items, onActivated, this);
  // The icon's activation chooses the matching top-level item.
  GList* now = gtk_container_get_children(GTK_CONTAINER(menu_));
  for (GList* i = now; i; i = i->next) {
    if (menuItemCommand(GTK_WIDGET(i->data)) == activationCommand_) {
      app_indicator_set_secondary_activate_target(indicator_, GTK_WIDGET(i->data));
      break;
    }
  }
  g_list_free(now);
}

void LinuxTrayPort::onActivated(GtkMenuItem* item, gpointer data) {
  auto* self = static_cast<LinuxTrayPort*>(data);
  const uint32_t id = menuItemCommand(GTK_WIDGET(item));
  if (id && self->events_.command) self->events_.command(id);
  // The choice changed what the menu shows: the next opening finds it current even where
  // the desktop does not announce it.
  self->scheduleMenuRequest();
}

bool LinuxTrayPort::connected() const {
  gboolean on = FALSE;
  if (indicator_) g_object_get(indicator_, "connected", &on, nullptr);
  return on != FALSE;
}

}  // namespace tonalis::lnx
