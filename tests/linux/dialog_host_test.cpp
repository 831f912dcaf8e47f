// The GTK dialog host: native events as the core's messages, the modal loop with its
// timers and messages from other threads, and the About box built from its template.
#include "platform/linux/dialog_host.h"

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

GdkEvent button(GdkEventType type, guint number, double x, double y, guint state) {
  GdkEvent e{};
  e.button.type = type;
  e.button.button = number;
  e.button.x = x;
  e.button.y = y;
  e.button.state = state;
  return e;
}

TEST(EventTranslation, PointerAndKeysBecomeTheCoresMessages) {
  GdkEvent motion{};
  motion.motion.type = GDK_MOTION_NOTIFY;
  motion.motion.x = 12.7;
  motion.motion.y = 3;
  motion.motion.state = GDK_BUTTON1_MASK | GDK_SHIFT_MASK;
  GdkEvent escape{}, letter{}, other{};
  escape.key.type = letter.key.type = other.key.type = GDK_KEY_PRESS;
  escape.key.keyval = GDK_KEY_Escape;
  letter.key.keyval = GDK_KEY_q;
  other.key.keyval = GDK_KEY_Shift_L;
  struct Case {
    const char* what;
    GdkEvent event;
    std::optional<Message> message;
  } cases[] = {
      {"left press: the button is down in the key state", button(GDK_BUTTON_PRESS, 1, 10, 20, 0),
       Message{WM_LBUTTONDOWN, 0x1, (20 << 16) | 10}},
      {"left double-click", button(GDK_2BUTTON_PRESS, 1, 10, 20, GDK_BUTTON1_MASK),
       Message{WM_LBUTTONDBLCLK, 0x1, (20 << 16) | 10}},
      {"left release: the button is up", button(GDK_BUTTON_RELEASE, 1, 5, 6, GDK_BUTTON1_MASK),
       Message{WM_LBUTTONUP, 0x0, (6 << 16) | 5}},
      {"right release, control held", button(GDK_BUTTON_RELEASE, 3, 1, 2, GDK_BUTTON3_MASK | GDK_CONTROL_MASK),
       Message{WM_RBUTTONUP, 0x8, (2 << 16) | 1}},
      {"left of the window: negative coordinates in 16 bits", button(GDK_BUTTON_PRESS, 1, -3, -1, 0),
       Message{WM_LBUTTONDOWN, 0x1, intptr_t(0xFFFFFFFDu)}},
      {"a fourth button means nothing", button(GDK_BUTTON_PRESS, 8, 1, 1, 0), std::nullopt},
      {"motion with the left button held", motion, Message{WM_MOUSEMOVE, 0x1 | 0x4, (3 << 16) | 12}},
      {"Escape", escape, Message{WM_KEYDOWN, VK_ESCAPE, 0}},
      {"a letter as its capital", letter, Message{WM_KEYDOWN, 'Q', 0}},
      {"a modifier alone", other, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<Message> got = messageFromEvent(c.event);
    ASSERT_EQ(got.has_value(), c.message.has_value()) << c.what;
    if (!got) continue;
    EXPECT_EQ(got->id, c.message->id) << c.what;
    EXPECT_EQ(got->wParam, c.message->wParam) << c.what;
    EXPECT_EQ(got->lParam, c.message->lParam) << c.what;
  }
}

constexpr uint32_t Posted = WM_APP + 5, Sent = WM_APP + 6;

// A dialog that counts its timer ticks and the messages other threads post and send.
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(DialogHost& host) : CDialog(999, host) {}
  bool onInitDialog() override {
    host().setTimer(7, 10);
    worker = std::thread([this] {
      host().postMessage({Posted, 1, 0});
      sentResult = host().sendMessage({Sent, 2, 0});
      host().postMessage({Posted, 3, 0});
    });
    return true;
  }
  intptr_t onTimer(uintptr_t id, intptr_t) {
    if (id == 7 && ++ticks == 3) host().killTimer(7);
    finishWhenDone();
    return 0;
  }
  intptr_t onPosted(uintptr_t w, intptr_t) {
    order.push_back(int(w));
    finishWhenDone();
    return 0;
  }
  intptr_t onSent(uintptr_t w, intptr_t) {
    order.push_back(int(w));
    return 99;
  }
  void finishWhenDone() {
    if (ticks >= 3 && order.size() == 3) endDialog(42);
  }

  std::thread worker;
  int ticks = 0;
  std::vector<int> order;
  std::atomic<intptr_t> sentResult{0};

 protected:
  std::span<const MessageEntry> messageTable() const override {
    static const MessageEntry table[] = {
        onMessage<&ProbeDialog::onTimer>(WM_TIMER),
        onMessage<&ProbeDialog::onPosted>(Posted),
        onMessage<&ProbeDialog::onSent>(Sent),
    };
    return table;
  }
};

TEST(DialogHostLoop, RunsTimersAndMessagesFromOtherThreadsUntilTheDialogEnds) {
  TONALIS_REQUIRE_DISPLAY();
  LinuxDialogHost host;
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
  // A sent message is answered before the posted ones waiting, as on Windows.
  EXPECT_EQ(dialog.order, (std::vector<int>{2, 1, 3}));
  EXPECT_EQ(dialog.sentResult.load(), 99);
  EXPECT_EQ(host.window(), nullptr) << "the window goes with the dialog";
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
    p->host->endModal(IDOK);
    return G_SOURCE_REMOVE;
  }, &probe);
  EXPECT_EQ(dialog.doModal(), IDOK);
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
