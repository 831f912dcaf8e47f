// What GDK's events of the main window mean to the core: the one place where the GTK
// backend decodes native input (the rest of the backend only hands events on).
#pragma once

#include <gtk/gtk.h>

#include <optional>

#include "platform/events.h"

namespace tonalis::lnx {

// The event a pointer or key event of the main window stands for, if any: presses,
// double-clicks and releases of the left, middle and right buttons and motion, in the
// window's coordinates; key presses (Enter, Escape, any other key).
std::optional<Event> eventFromGdk(const GdkEvent& event);

}  // namespace tonalis::lnx
