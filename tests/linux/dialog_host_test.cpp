// The GTK dialog host: the modal loop with its timers and events from other threads, and the
// About box built from its template.
#include "backend/linux/dialog_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "about/about_dlg.h"
#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "x_display.h"

namespace tonalis::lnx {
namespace {

// A dialog that counts its timer ticks and the events other threads post.
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(DialogHost& host) : CDialog(999, host) {}
  bool onInitDialog() override {
    host().setTimer(7, 10);
    worker = std::thread([this] {
      for (uint32_t id = 1; id <= 3; ++id) host().post(AppEvent{id});
    });
    return true;
  }
  void onTimer(const TimerTick& tick) {
    if (tick.id == 7 && ++ticks == 3) host().killTimer(7);
    finishWhenDone();
  }
  void onPosted(const AppEvent& event) {
    order.push_back(int(event.id));
    finishWhenDone();
  }
  void finishWhenDone() {
    if (ticks >= 3 && order.size() == 3) endDialog(42);
  }

  std::thread worker;
  int ticks = 0;
  std::vector<int> order;

 protected:
  std::span<const EventEntry> eventTable() const override {
    static const EventEntry table[] = {
        onEvent<TimerTick, &ProbeDialog::onTimer>(),
        onEvent<AppEvent, &ProbeDialog::onPosted>(),
    };
    return table;
  }
};

TEST(DialogHostLoop, RunsTimersAndEventsFromOtherThreadsUntilTheDialogEnds) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxDialogHost host;
  host.post(AppEvent{9});  // before there is a window: no one hears it
  ProbeDialog dialog(host);
  const guint watchdog = g_timeout_add(5000, [](gpointer) -> gboolean {
    ADD_FAILURE() << "the dialog did not end";
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }, nullptr);
  EXPECT_EQ(dialog.doModal(), 42);
  g_source_remove(watchdog);
  dialog.worker.join();
  EXPECT_EQ(dialog.ticks, 3) << "a killed timer ticks no more";
  EXPECT_EQ(dialog.order, (std::vector<int>{1, 2, 3})) << "in the order posted, none from before the window";
  EXPECT_EQ(host.window(), nullptr) << "the window goes with the dialog";
}

// The virtual display has one 1280 x 800 screen: one primary monitor at the origin, its work
// area inside it (no panel here, so all of it).
TEST(DialogHostMonitors, ListsTheScreenAsThePrimaryMonitor) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxDialogHost host;
  const std::vector<Monitor> monitors = host.monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].area, (Rect{0, 0, 1280, 800}));
  EXPECT_EQ(monitors[0].workArea, (Rect{0, 0, 1280, 800}));
  EXPECT_TRUE(monitors[0].primary);
  EXPECT_EQ(monitors[0].scale, 1.0);
}

TEST(AboutBox, ShowsTheTextsAndOpensTheLinkWhereItIsClicked) {
  TONALIS_REQUIRE_DISPLAY();
  fakes::CallLog log;
  fakes::FakeShell shell(log);
  LinuxDialogHost owner;
  auto host = owner.createDialogHost();
  auto& about = static_cast<LinuxDialogHost&>(*host);
  CAboutDlg dialog(about, shell);
  struct Probe {
    LinuxDialogHost* host;
    std::string program, link, linkColour;
    Rect linkRect{};
    bool clicked = false;
  } probe{&about, {}, {}, {}, {}, false};
  // Once the box shows: read it, then click in the middle of the link as a user would.
  g_timeout_add(300, [](gpointer data) -> gboolean {
    auto* p = static_cast<Probe*>(data);
    GtkWindow* window = p->host->window();
    if (!window) return G_SOURCE_REMOVE;
    p->program = gtk_label_get_text(GTK_LABEL(p->host->control(CAboutDlg::ProgramId)));
    p->link = gtk_label_get_text(GTK_LABEL(p->host->control(CAboutDlg::LinkId)));
    GdkRGBA colour;
    gtk_style_context_get_color(gtk_widget_get_style_context(p->host->control(CAboutDlg::LinkId)),
                                GTK_STATE_FLAG_NORMAL, &colour);
    char* text = gdk_rgba_to_string(&colour);
    p->linkColour = text;
    g_free(text);
    p->linkRect = p->host->controlScreenRect(CAboutDlg::LinkId);
    GdkDisplay* display = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    const Point centre{(p->linkRect.left + p->linkRect.right) / 2, (p->linkRect.top + p->linkRect.bottom) / 2};
    gdk_device_warp(pointer, gdk_display_get_default_screen(display), centre.x, centre.y);
    gdk_display_sync(display);
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window));
    int ox = 0, oy = 0;
    gdk_window_get_origin(gdk, &ox, &oy);
    GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
    press->button.window = GDK_WINDOW(g_object_ref(gdk));
    press->button.button = 1;
    press->button.x = centre.x - ox;
    press->button.y = centre.y - oy;
    press->button.x_root = centre.x;
    press->button.y_root = centre.y;
    gdk_event_set_device(press, pointer);
    gtk_main_do_event(press);
    gdk_event_free(press);
    p->clicked = true;
    p->host->endModal(IdOk);
    return G_SOURCE_REMOVE;
  }, &probe);
  EXPECT_EQ(dialog.doModal(), IdOk);
  ASSERT_TRUE(probe.clicked);
  const AboutInfo info;
  EXPECT_EQ(probe.program, aboutValueText(info.program));
  EXPECT_EQ(probe.link, "  " + std::string(info.linkBase) + "\n" + std::string(info.linkRest));
  EXPECT_EQ(probe.linkColour, "rgb(0,0,255)") << "the colour the dialog picks for its link";
  EXPECT_GT(probe.linkRect.width(), 0);
  EXPECT_EQ(shell.opened, (std::vector<std::string>{aboutLinkAddress(AboutInfo{})}));
}

}  // namespace
}  // namespace tonalis::lnx
