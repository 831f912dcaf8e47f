// The GTK host: its loop with timers and events from other threads until quit, the screens
// as GDK reports them, and the About box in GTK's widgets.
#include "backend/linux/app_host.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "about/about_info.h"
#include "backend/linux/about_box.h"
#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "x_display.h"

namespace tonalis::lnx {
namespace {

// Every label's text under `widget`, in the order GTK holds them.
void collectLabels(GtkWidget* widget, std::vector<std::string>& texts) {
  if (GTK_IS_LABEL(widget)) texts.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next) collectLabels(GTK_WIDGET(c->data), texts);
    g_list_free(children);
  }
}

TEST(AppHostLoop, RunsTimersAndEventsFromOtherThreadsUntilQuit) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxAppHost host;
  host.post(AppEvent{9});  // before there is a window: no one hears it
  int ticks = 0;
  std::vector<int> order;
  std::thread worker;
  const auto finishWhenDone = [&] {
    if (ticks >= 3 && order.size() == 3) host.quit();
  };
  host.setHandler([&](Event& event) {
    if (const auto* tick = std::get_if<TimerTick>(&event); tick && tick->id == 7) {
      if (++ticks == 3) host.killTimer(7);
      finishWhenDone();
      return true;
    }
    if (const auto* posted = std::get_if<AppEvent>(&event)) {
      order.push_back(int(posted->id));
      finishWhenDone();
      return true;
    }
    return false;
  });
  ASSERT_TRUE(host.createMainWindow());
  host.setTimer(7, 10);
  worker = std::thread([&] {
    for (uint32_t id = 1; id <= 3; ++id) host.post(AppEvent{id});
  });
  const guint watchdog = g_timeout_add(5000, [](gpointer data) -> gboolean {
    ADD_FAILURE() << "the loop did not end";
    static_cast<LinuxAppHost*>(data)->quit();
    return G_SOURCE_REMOVE;
  }, &host);
  host.run();
  g_source_remove(watchdog);
  worker.join();
  EXPECT_EQ(ticks, 3) << "a killed timer ticks no more";
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3})) << "in the order posted, none from before the window";
  EXPECT_EQ(host.window(), nullptr) << "the window goes when the loop ends";
  host.post(AppEvent{10});  // after the window: dropped, and nothing runs
}

TEST(AppHostLoop, AQuitBeforeTheLoopRunsNeverShowsTheWindow) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxAppHost host;
  bool shown = false;
  host.showWindow = [&] { shown = true; };
  ASSERT_TRUE(host.createMainWindow());
  host.quit();
  host.run();  // returns at once
  EXPECT_FALSE(shown);
  EXPECT_EQ(host.window(), nullptr);
}

// The virtual display has one 1280 x 800 screen: one primary monitor at the origin, its work
// area inside it (no panel here, so all of it).
TEST(AppHostMonitors, ListsTheScreenAsThePrimaryMonitor) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxAppHost host;
  const std::vector<Monitor> monitors = host.monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].area, (Rect{0, 0, 1280, 800}));
  EXPECT_EQ(monitors[0].workArea, (Rect{0, 0, 1280, 800}));
  EXPECT_TRUE(monitors[0].primary);
  EXPECT_EQ(monitors[0].scale, 1.0);
}

TEST(AboutBox, ShowsTheRowsAndTheLinkAndOpensThePageThroughTheShell) {
  TONALIS_REQUIRE_DISPLAY();
  fakes::CallLog log;
  fakes::FakeShell shell(log);
  const AboutInfo info;
  GtkWidget* box = createAboutBox(nullptr, info, shell);
  std::vector<std::string> texts;
  collectLabels(box, texts);
  for (const AboutRow& row : aboutRows(info)) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::string(row.caption)), texts.end()) << row.caption;
    EXPECT_NE(std::find(texts.begin(), texts.end(), aboutValueText(row.value)), texts.end()) << row.value;
  }
  EXPECT_EQ(gtk_window_get_title(GTK_WINDOW(box)), std::string("Tonalis"));
  GtkLabel* link = aboutBoxLink(box);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(gtk_label_get_text(link), "  " + std::string(info.linkBase) + "\n" + std::string(info.linkRest));

  // A click on the link: the shell opens it; without a browser it tells the address.
  gboolean handled = FALSE;
  g_signal_emit_by_name(link, "activate-link", aboutLinkAddress(info).c_str(), &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(shell.opened, (std::vector<std::string>{aboutLinkAddress(info)}));
  shell.openFails = true;
  g_signal_emit_by_name(link, "activate-link", aboutLinkAddress(info).c_str(), &handled);
  EXPECT_EQ(shell.messages, (std::vector<std::string>{std::string(LinkOpenFailedMessage) + aboutLinkAddress(info)}));

  // OK (any response) closes it.
  bool destroyed = false;
  g_signal_connect(box, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer flag) { *static_cast<bool*>(flag) = true; }),
                   &destroyed);
  gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace tonalis::lnx
