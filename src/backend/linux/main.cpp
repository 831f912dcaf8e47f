// Entry point of the Linux program: builds the GTK backend's ports, puts the application
// together and runs it in the host's loop.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/tonalis.h"
#include "backend/linux/bitmap_source.h"
#include "backend/linux/clock.h"
#include "backend/linux/app_host.h"
#include "backend/linux/event_sources.h"
#include "backend/linux/file_store.h"
#include "backend/linux/hid_host.h"
#include "backend/linux/instance_guard.h"
#include "backend/linux/layer_surface.h"
#include "backend/linux/presenter.h"
#include "backend/linux/shell.h"
#include "backend/linux/sound_input.h"
#include "backend/linux/tray_port.h"
#include "backend/linux/window_port.h"

// Last: X11's headers define macros (KeyPress, CursorShape) that clash with the core's names.
#include <gdk/gdkx.h>

using namespace tonalis;
using namespace tonalis::lnx;

namespace {

constexpr const char* Usage =
    "Usage: tonalis [--help] [--version] [--x11]\n"
    "\n"
    "A real-time audio spectrum visualiser. It listens to the default recording device,\n"
    "to what is playing, or to a chosen device, and shows the spectrum in a small window,\n"
    "a full-screen strip or a strip on the desktop. Everything else is in the menu of its\n"
    "icon in the notification area. Settings are kept in $XDG_CONFIG_HOME/tonalis/tonalis.ini.\n"
    "A second start shows the running copy's window.\n"
    "\n"
    "On a Wayland desktop whose compositor has layer surfaces (sway, Hyprland, KWin, labwc,\n"
    "Wayfire, niri) the window stands at its place and the strips on their layers; on others\n"
    "(GNOME) it runs through XWayland, placed and stacked by the desktop.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "  --x11      use X11 (XWayland under a Wayland desktop)\n";

void showMessageBox(GtkWindow* owner, std::string_view utf8Text) {
  const std::string text(utf8Text);
  GtkWidget* box = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s",
                                          text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), "Tonalis");
  gtk_widget_set_size_request(box, 240, -1);  // room for the title beside the buttons
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

int runProgram(int x11Scale) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  LinuxInstanceGuard instanceGuard(lockPath(runtime, unsigned(::getuid())));
  LinuxAppHost host;
  host.setX11Scale(x11Scale);
  LinuxWindowPort window;
  LinuxPresenter presenter(window);
  // A menu choice arrives as a posted command (after the desktop's call has returned: a
  // command may run a message box); the menu is built while the desktop waits for it.
  LinuxTrayPort tray(
      {[&host](uint32_t id) { host.post(Command{id}); }, [&host] { host.deliver(TrayMenuRequest{}); }},
      CmdToggleVisibility);
  LinuxClock clock;
  LinuxShell shell;
  // The program's messages (no sound server, a device gone, ...) as GTK message boxes over
  // the main window, waited for as a message box is.
  shell.setMessageSink([&host](std::string_view text) { showMessageBox(host.window(), text); });
  host.useShell(shell);
  LinuxBitmapSource bitmaps;
  LinuxSoundInput sound;
  LinuxHidHost hid;
  const std::optional<std::string> folder = configFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  LinuxFileStore files(folder ? *folder : std::string("."));
  HidMonitor boardMonitor;
  LinuxEventSources sources(
      instanceGuard, boardMonitor, [&host](Event&& event) { host.deliver(event); },
      [&host](const Event& event) { host.post(event); });

  host.onCreated = [&](GtkWindow* w, GtkWidget* area) {
    window.attach(w, area);
    presenter.attach(area);
    sources.attach(w);
  };
  host.onDestroying = [&](GtkWindow*) {
    sources.detach();
    presenter.detach();
    window.detach();
  };
  host.showWindow = [&] { window.show(); };
  host.mainWindow().onPointer = [&](const GdkEvent& event) {
    if (event.type == GDK_BUTTON_PRESS) window.notePress(event.button);
    if (event.type == GDK_MOTION_NOTIFY) window.noteMotion(event.motion);
    if (event.type == GDK_BUTTON_RELEASE) window.noteRelease();
  };

  Tonalis app(AppPorts{host, window, presenter, tray, sound, hid, clock, shell, bitmaps, files, instanceGuard});
  const int code = app.run();
  if (app.workerAbandoned()) {
    // The worker is stuck in a device call and still uses what these objects own: end the
    // process here instead of tearing them down under it. Settings are saved and the tray
    // icon is gone.
    std::fflush(nullptr);
    ::_exit(code);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  bool x11 = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Tonalis %s\n", TONALIS_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--x11") == 0) {
      x11 = true;
      continue;
    }
    std::fprintf(stderr, "tonalis: unknown option '%s'\n%s", argv[i], Usage);
    return 2;
  }
  // The program places its window itself (the saved place, the strips): X11 allows it, and
  // Wayland where the compositor has layer surfaces; elsewhere it runs through XWayland.
  const std::vector<char*> arguments(argv, argv + argc);
  if (x11) setenv("GDK_BACKEND", "x11", 1);
  gdk_set_allowed_backends(x11 ? "x11" : "wayland,x11");
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("tonalis: no graphical display (is WAYLAND_DISPLAY or DISPLAY set?)\n", stderr);
    return 1;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (!GDK_IS_X11_DISPLAY(display) && !layerShellAvailable()) {
    // GDK cannot change its backend once open: start again on X11.
    std::vector<char*> again(arguments);
    again.push_back(const_cast<char*>("--x11"));
    again.push_back(nullptr);
    ::execv("/proc/self/exe", again.data());
    std::fputs("tonalis: this Wayland desktop has no layer surfaces, and X11 could not be started\n", stderr);
    return 1;
  }
  int x11Scale = 1;
  if (GDK_IS_X11_DISPLAY(display)) {
    // Frames are drawn pixel for pixel: one window pixel is one screen pixel. The scale the
    // desktop sets for other programs is kept, and the frames are drawn at it.
    if (GdkMonitor* monitor = gdk_display_get_monitor(display, 0)) x11Scale = gdk_monitor_get_scale_factor(monitor);
    gdk_x11_display_set_window_scale(display, 1);
    // GTK's own windows (the About box, message boxes) would be left at the small size with
    // it: their texts take the scale through the font resolution.
    if (x11Scale > 1) {
      GtkSettings* settings = gtk_settings_get_default();
      gint dpi = 0;  // in 1024ths of a dot per inch; -1 for the default 96
      g_object_get(settings, "gtk-xft-dpi", &dpi, nullptr);
      g_object_set(settings, "gtk-xft-dpi", (dpi > 0 ? dpi : 96 * 1024) * x11Scale, nullptr);
    }
  }
  g_set_prgname("tonalis");
  g_set_application_name("Tonalis");
  try {
    return runProgram(x11Scale);
  } catch (...) {
    std::fputs("tonalis: ended by an unexpected failure\n", stderr);
    return 1;
  }
}
