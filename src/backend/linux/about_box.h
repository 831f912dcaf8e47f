// The About box in GTK's own widgets: the rows (caption, then the value after a full-width
// colon), the About picture, the link (blue; the hand cursor over it is GTK's, and a click
// opens the page through the shell, which tells the address when it cannot) and an OK
// button. Escape, OK and the window manager's close end it.
#pragma once

#include <gtk/gtk.h>

#include "about/about_info.h"
#include "platform/shell.h"

namespace tonalis::lnx {

// The box over `parent` (which may be null), not yet shown; it destroys itself when closed.
// `info` is copied; `shell` must outlive the box. `scale`: the desktop's whole scale on X11,
// where the program draws pixel for pixel: the box's spacing and picture grow by it (its
// texts grow with the font resolution the program sets at start).
GtkWidget* createAboutBox(GtkWindow* parent, const AboutInfo& info, Shell& shell, int scale = 1);

// The label holding the link, for the tests.
GtkLabel* aboutBoxLink(GtkWidget* box);

}  // namespace tonalis::lnx
