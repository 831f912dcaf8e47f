#include "backend/linux/about_box.h"

#include <algorithm>
#include <string>

#include "backend/linux/tray_port.h"
#include "common/utf8.h"
#include "render/embedded_assets.h"

namespace tonalis::lnx {

namespace {

struct AboutBoxData {
  AboutInfo info;
  Shell* shell;
  GtkLabel* link = nullptr;
};

std::string withoutCarriageReturns(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

GtkWidget* leftLabel(const std::string& text) {
  // The texts come from outside (dates, addresses): GTK blanks a label that is not UTF-8.
  GtkWidget* label = gtk_label_new(repairUtf8(text).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  return label;
}

// The picture, every pixel repeated `scale` x `scale` times.
GdkPixbuf* aboutPicture(int scale) {
  for (const EmbeddedAsset& asset : embeddedAssets()) {
    if (asset.id != AboutPictureId) continue;
    GdkPixbuf* pixbuf = pixbufFromBytes({asset.bytes, asset.size});
    if (!pixbuf || scale <= 1) return pixbuf;
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pixbuf, gdk_pixbuf_get_width(pixbuf) * scale,
                                                gdk_pixbuf_get_height(pixbuf) * scale, GDK_INTERP_NEAREST);
    g_object_unref(pixbuf);
    return scaled;
  }
  return nullptr;
}

gboolean onLinkActivated(GtkLabel*, gchar*, gpointer data) {
  const auto* self = static_cast<AboutBoxData*>(data);
  openAboutLink(self->info, *self->shell);
  return TRUE;  // opened here, through the shell
}

}  // namespace

GtkWidget* createAboutBox(GtkWindow* parent, const AboutInfo& info, Shell& shell, int scale) {
  scale = std::max(scale, 1);
  auto* data = new AboutBoxData{info, &shell};
  GtkWidget* box = gtk_dialog_new_with_buttons("Tonalis", parent,
                                               GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               "OK", GTK_RESPONSE_OK, nullptr);
  g_object_set_data_full(G_OBJECT(box), "tonalis-about", data,
                         [](gpointer p) { delete static_cast<AboutBoxData*>(p); });
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(box), TRUE);
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
  if (GdkPixbuf* icon = loadProgramIcon()) {
    gtk_window_set_icon(GTK_WINDOW(box), icon);
    g_object_unref(icon);
  }
  g_signal_connect(box, "response", G_CALLBACK(+[](GtkDialog* dialog, gint, gpointer) {
                     gtk_widget_destroy(GTK_WIDGET(dialog));
                   }),
                   nullptr);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(box));
  gtk_box_set_spacing(GTK_BOX(content), 8 * scale);
  gtk_container_set_border_width(GTK_CONTAINER(content), guint(8 * scale));

  // The rows: captions in one column, values in the next.
  GtkWidget* rows = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(rows), guint(6 * scale));
  gtk_grid_set_row_spacing(GTK_GRID(rows), guint(2 * scale));
  int top = 0;
  for (const AboutRow& row : aboutRows(info)) {
    gtk_grid_attach(GTK_GRID(rows), leftLabel(std::string(row.caption)), 0, top, 1, 1);
    gtk_grid_attach(GTK_GRID(rows), leftLabel(aboutValueText(row.value)), 1, top, 1, 1);
    ++top;
  }
  gtk_box_pack_start(GTK_BOX(content), rows, FALSE, FALSE, 0);

  // The picture at its own size, pixel for pixel (at a whole scale, each pixel a block).
  GtkWidget* picture = gtk_image_new();
  if (GdkPixbuf* pixbuf = aboutPicture(scale)) {
    gtk_image_set_from_pixbuf(GTK_IMAGE(picture), pixbuf);
    g_object_unref(pixbuf);
  }
  gtk_box_pack_start(GTK_BOX(content), picture, FALSE, FALSE, 0);

  // The link: its two lines, the first indented, in blue. The indent is not part of the
  // link (it would be underlined); each line is.
  const std::string address = repairUtf8(aboutLinkAddress(info));
  std::string markup;
  const std::string label = repairUtf8(withoutCarriageReturns(aboutLinkLabel(info)));
  size_t from = 0;
  while (from < label.size()) {
    const size_t end = std::min(label.find('\n', from), label.size());
    const std::string line = label.substr(from, end - from);
    const size_t text = std::min(line.find_first_not_of(' '), line.size());
    char* piece = g_markup_printf_escaped("%s<a href=\"%s\">%s</a>", line.substr(0, text).c_str(), address.c_str(),
                                          line.substr(text).c_str());
    markup += piece;
    g_free(piece);
    if (end < label.size()) markup += '\n';
    from = end + 1;
  }
  GtkWidget* link = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(link), markup.c_str());
  gtk_label_set_xalign(GTK_LABEL(link), 0);
  gtk_label_set_track_visited_links(GTK_LABEL(link), FALSE);
  const Rgb c = AboutLinkColor;
  char css[160];
  g_snprintf(css, sizeof css, "label link, label link:hover, label link:visited { color: #%02x%02x%02x; }",
             unsigned((c >> 16) & 0xFF), unsigned((c >> 8) & 0xFF), unsigned(c & 0xFF));
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(link), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
  g_signal_connect(link, "activate-link", G_CALLBACK(onLinkActivated), data);
  data->link = GTK_LABEL(link);
  gtk_box_pack_start(GTK_BOX(content), link, FALSE, FALSE, 0);

  gtk_widget_show_all(content);
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK));
  return box;
}

GtkLabel* aboutBoxLink(GtkWidget* box) {
  const auto* data = static_cast<AboutBoxData*>(g_object_get_data(G_OBJECT(box), "tonalis-about"));
  return data ? data->link : nullptr;
}

}  // namespace tonalis::lnx
