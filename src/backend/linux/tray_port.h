// The notification-area icon as an application indicator (a StatusNotifierItem whose
// menu the desktop shows over D-Bus; an XEmbed icon where no watcher answers). The
// desktop shows the menu itself, so the core cannot track it: the port asks the core for
// the menu whenever the desktop is about to show it (and after every choice), and takes
// the core's trackMenu as the new content.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tray_port.h"

typedef struct _AppIndicator AppIndicator;

namespace tonalis::lnx {

// The bytes of the program's icon file (a Windows .ico, compiled in).
std::span<const unsigned char> programIconFile();
// An image file's bytes (PNG, ICO, BMP, ...) as a pixbuf (a new reference), or null when
// they cannot be decoded.
GdkPixbuf* pixbufFromBytes(std::span<const unsigned char> bytes);
// The program's icon as a pixbuf (a new reference), or null when it cannot be decoded.
GdkPixbuf* loadProgramIcon();

// Fills `menu` with the items of the model: labels, check marks (radio ones drawn as
// bullets), greyed items, submenus and separators. A command item carries its id (see
// menuItemCommand) and calls `activated` with `data` when chosen.
void fillGtkMenu(GtkMenuShell* menu, const std::vector<MenuItem>& items,
                 void (*activated)(GtkMenuItem*, gpointer), gpointer data);
// The command id a command item of fillGtkMenu carries; 0 for any other widget.
uint32_t menuItemCommand(GtkWidget* item);

// Said under the tip where no compositing manager runs: the transparency settings then
// show opaque.
inline constexpr std::string_view NoCompositorNote = "没有合成器，透明不可用";
// Said under the tip when the program runs through XWayland under a Wayland desktop (one
// without layer surfaces, or --x11): the desktop then places the window and decides what
// stays on top, and the desktop strip is not kept below the other windows.
inline constexpr std::string_view NoLayerShellNote = "桌面不支持图层界面，位置与置顶由桌面决定";
// What the indicator's title (the tip desktops show on hover) says: the tip, and a note
// of each of the two things the desktop cannot do.
std::string trayTitle(std::string_view tip, bool composited, bool placedByDesktop = false);
// Whether the program runs on X11 through XWayland, under a Wayland desktop.
bool throughXWayland();

// The arguments of a desktop notification's Notify call (a floating reference): the texts
// and the icon's name or path, each repaired to UTF-8 as D-Bus requires.
GVariant* notificationParameters(std::string_view title, std::string_view text, std::string_view icon);

class LinuxTrayPort : public TrayPort {
 public:
  struct Events {
    std::function<void(uint32_t commandId)> command;  // an item was chosen
    std::function<void()> menuWanted;                 // the core should call trackMenu now
  };
  // `activationCommand`: the item the icon's activation (a middle click) chooses, the
  // equivalent of a double-click on the icon elsewhere.
  LinuxTrayPort(Events events, uint32_t activationCommand);
  ~LinuxTrayPort() override;
  LinuxTrayPort(const LinuxTrayPort&) = delete;
  LinuxTrayPort& operator=(const LinuxTrayPort&) = delete;

  bool addIcon(uint32_t iconId, std::string_view tip) override;
  void removeIcon() override;
  void setTip(std::string_view tip) override;
  void showBalloon(std::string_view title, std::string_view text) override;
  void trackMenu(const std::vector<MenuItem>& items) override;

  // The indicator's D-Bus id ("tonalis") and whether a desktop watcher shows it now.
  bool connected() const;

 private:
  static void onActivated(GtkMenuItem* item, gpointer self);
  static gboolean onAboutToShow(GObject* root, gpointer self);
  static gboolean requestMenu(gpointer self);
  static void onCompositedChanged(GdkScreen* screen, gpointer self);
  void showTitle();
  void scheduleMenuRequest();
  void watchMenuRoot();
  std::string iconFolder();

  Events events_;
  uint32_t activationCommand_;
  AppIndicator* indicator_ = nullptr;
  GtkWidget* menu_ = nullptr;       // one menu for the icon's life, refilled
  GObject* menuRoot_ = nullptr;     // the exported menu's root node, whose opening we hear
  gulong aboutToShowHandler_ = 0;
  guint menuRequest_ = 0;           // an idle source asking the core for the menu
  std::string tip_;
  GdkScreen* screen_ = nullptr;     // whose compositing manager we follow
  gulong compositedHandler_ = 0;
  std::string iconPath_;            // the PNG the desktop shows, written at the first icon
  bool shown_ = false;
};

}  // namespace tonalis::lnx
