// The tray menu as GTK widgets: the core's menu model, item by item.
#include "backend/linux/tray_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/tray_menu.h"
#include "x_display.h"

namespace tonalis::lnx {
namespace {

std::vector<GtkWidget*> children(GtkWidget* shell) {
  std::vector<GtkWidget*> out;
  GList* list = gtk_container_get_children(GTK_CONTAINER(shell));
  for (GList* i = list; i; i = i->next) out.push_back(GTK_WIDGET(i->data));
  g_list_free(list);
  return out;
}

// Compares the widgets of `shell` with the model, recursively; reports the first difference.
void expectMenuMatches(GtkWidget* shell, const std::vector<MenuItem>& items, const std::string& where = "") {
  const std::vector<GtkWidget*> widgets = children(shell);
  ASSERT_EQ(widgets.size(), items.size()) << where;
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    GtkWidget* w = widgets[i];
    const std::string at = where + "/" + std::to_string(i) + " " + item.label;
    EXPECT_TRUE(gtk_widget_get_visible(w)) << at;
    if (item.kind == MenuItem::Kind::Separator) {
      EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(w)) << at;
      continue;
    }
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), item.label.c_str()) << at;
    EXPECT_EQ(gtk_widget_get_sensitive(w) != FALSE, item.enabled) << at;
    if (item.kind == MenuItem::Kind::SubMenu) {
      GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(w));
      ASSERT_NE(sub, nullptr) << at;
      expectMenuMatches(sub, item.children, at);
      continue;
    }
    EXPECT_EQ(menuItemCommand(w), item.id) << at;
    const bool check = GTK_IS_CHECK_MENU_ITEM(w);
    EXPECT_EQ(check && gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w)), item.checked) << at;
    EXPECT_EQ(check && gtk_check_menu_item_get_draw_as_radio(GTK_CHECK_MENU_ITEM(w)), item.radio) << at;
  }
}

struct Chosen {
  std::vector<uint32_t> ids;
};

void record(GtkMenuItem* item, gpointer data) {
  static_cast<Chosen*>(data)->ids.push_back(menuItemCommand(GTK_WIDGET(item)));
}

TEST(TrayMenuWidgets, ShowTheCoresMenuInEveryState) {
  TONALIS_REQUIRE_DISPLAY();
  // The core's own menu in states that check, grey and relabel different items.
  TrayMenuState windowMode;
  TrayMenuState desktop;
  desktop.displayMode = DisplayMode::Desktop;
  desktop.boardConnected = true;
  desktop.windowVisible = false;
  desktop.topMost = 1;
  desktop.clickThrough = 1;
  desktop.transparencyMode = 2;
  desktop.source.devices = {{"mic-a", "麦克风 A", true}, {"mic-b", "Mic B", false}};
  desktop.source.chosen = {SourceKind::Device, "mic-a"};
  for (const TrayMenuState& state : {windowMode, desktop}) {
    const std::vector<MenuItem> model = buildTrayMenu(state);
    Chosen chosen;
    GtkWidget* menu = g_object_ref_sink(gtk_menu_new());
    fillGtkMenu(GTK_MENU_SHELL(menu), model, record, &chosen);
    expectMenuMatches(menu, model);
    EXPECT_TRUE(chosen.ids.empty()) << "building the menu chose nothing";
    gtk_widget_destroy(menu);
    g_object_unref(menu);
  }
}

TEST(TrayMenuWidgets, ChoosingAnItemDeliversItsCommandOnce) {
  TONALIS_REQUIRE_DISPLAY();
  auto command = [](uint32_t id, bool checked = false, bool radio = false) {
    MenuItem item;
    item.id = id;
    item.label = "item " + std::to_string(id);
    item.checked = checked;
    item.radio = radio;
    return item;
  };
  MenuItem sub;
  sub.kind = MenuItem::Kind::SubMenu;
  sub.label = "more";
  sub.children = {command(9, true, true), MenuItem{MenuItem::Kind::Separator, 0, {}, false, false, true, {}}};
  const std::vector<MenuItem> model = {command(7), command(8, true), sub};
  Chosen chosen;
  GtkWidget* menu = g_object_ref_sink(gtk_menu_new());
  fillGtkMenu(GTK_MENU_SHELL(menu), model, record, &chosen);
  const auto top = children(menu);
  gtk_menu_item_activate(GTK_MENU_ITEM(top[1]));
  gtk_menu_item_activate(GTK_MENU_ITEM(children(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top[2])))[0]));
  gtk_menu_item_activate(GTK_MENU_ITEM(top[0]));
  EXPECT_EQ(chosen.ids, (std::vector<uint32_t>{8, 9, 7}));
  gtk_widget_destroy(menu);
  g_object_unref(menu);
}

// Records what GLib, GTK, Pango and GIO complain about while it lives. Every message,
// structured or not, ends at the log writer, which a process may set only once.
class GLibComplaints {
 public:
  GLibComplaints() {
    static const bool installed = [] {
      g_log_set_writer_func(write, nullptr, nullptr);
      return true;
    }();
    (void)installed;
    current_ = this;
  }
  ~GLibComplaints() { current_ = nullptr; }
  std::vector<std::string> seen;

 private:
  static GLogWriterOutput write(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
    if (current_ && (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))) {
      std::string text;
      for (gsize i = 0; i < count; ++i) {
        if (std::string_view(fields[i].key) == "MESSAGE" && fields[i].length < 0) text = static_cast<const char*>(fields[i].value);
      }
      current_->seen.push_back(text);
    }
    return g_log_writer_default(level, fields, count, data);
  }
  static inline GLibComplaints* current_ = nullptr;
};

// Device names and paths are not promised to be UTF-8. Where they leave for GTK or D-Bus
// each bad byte shows as U+FFFD, and nothing is refused or blanked on the way.
constexpr const char* Bad = "Mic \xff\xc3 (\xed\xa0\x80)";
constexpr const char* Repaired = "Mic \uFFFD\uFFFD (\uFFFD\uFFFD\uFFFD)";

TEST(TrayText, ABadSequenceReachesTheMenuRepaired) {
  TONALIS_REQUIRE_DISPLAY();
  GLibComplaints complaints;
  MenuItem device;
  device.id = 41;
  device.label = Bad;
  device.checked = true;
  device.radio = true;
  MenuItem sub;
  sub.kind = MenuItem::Kind::SubMenu;
  sub.label = Bad;
  sub.children = {device};
  GtkWidget* menu = g_object_ref_sink(gtk_menu_new());
  fillGtkMenu(GTK_MENU_SHELL(menu), {sub}, nullptr, nullptr);
  GtkWidget* top = children(menu).at(0);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(top)), Repaired);
  GtkWidget* item = children(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top))).at(0);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(item)), Repaired);
  EXPECT_EQ(menuItemCommand(item), 41u) << "the command keeps its id";
  // Measuring lays the labels out, where Pango would complain of a bad sequence.
  for (GtkWidget* w : {top, item}) gtk_widget_get_preferred_size(w, nullptr, nullptr);
  gtk_widget_destroy(menu);
  g_object_unref(menu);
  EXPECT_EQ(complaints.seen, std::vector<std::string>{});
}

TEST(TrayText, ABadSequenceReachesTheTipAndTheNotificationRepaired) {
  GLibComplaints complaints;
  EXPECT_EQ(trayTitle(Bad, true, false), Repaired);
  EXPECT_EQ(trayTitle(Bad, false, false), std::string(Repaired) + "\n" + std::string(NoCompositorNote));

  GVariant* call = g_variant_ref_sink(notificationParameters("设置未能读取，本次不保存", std::string("/home/\xe9t\xe9/tonalis.ini"),
                                                             "/run/\xff/tonalis-program.png"));
  ASSERT_NE(call, nullptr);
  const gchar *app = nullptr, *icon = nullptr, *title = nullptr, *body = nullptr;
  g_variant_get_child(call, 0, "&s", &app);
  g_variant_get_child(call, 2, "&s", &icon);
  g_variant_get_child(call, 3, "&s", &title);
  g_variant_get_child(call, 4, "&s", &body);
  EXPECT_STREQ(app, "Tonalis");
  EXPECT_STREQ(icon, "/run/\uFFFD/tonalis-program.png");
  EXPECT_STREQ(title, "设置未能读取，本次不保存");
  EXPECT_STREQ(body, "/home/\uFFFDt\uFFFD/tonalis.ini");
  g_variant_unref(call);
  EXPECT_EQ(complaints.seen, std::vector<std::string>{});
}

TEST(TrayTip, SaysOnceEachThingTheDesktopCannotDo) {
  const std::string both = std::string("Tonalis\n") + std::string(NoCompositorNote) + "\n" + std::string(NoLayerShellNote);
  struct Case {
    const char* tip;
    bool composited, placedByDesktop;
    std::string want;
  } cases[] = {
      {"Tonalis", true, false, "Tonalis"},
      {"Tonalis", false, false, "Tonalis\n" + std::string(NoCompositorNote)},
      {"Tonalis", true, true, "Tonalis\n" + std::string(NoLayerShellNote)},
      {"Tonalis", false, true, both},
      {"", true, true, std::string(NoLayerShellNote)},
  };
  for (const Case& c : cases) EXPECT_EQ(trayTitle(c.tip, c.composited, c.placedByDesktop), c.want);
}

TEST(TrayIcon, DecodesTheProgramsIcon) {
  TONALIS_REQUIRE_DISPLAY();
  GdkPixbuf* icon = loadProgramIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(icon), 48);
  EXPECT_EQ(gdk_pixbuf_get_height(icon), 48);
  g_object_unref(icon);
}

}  // namespace
}  // namespace tonalis::lnx
