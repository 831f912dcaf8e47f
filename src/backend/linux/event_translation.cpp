#include "backend/linux/event_translation.h"

namespace tonalis::lnx {

namespace {

std::optional<MouseButton> mouseButton(guint button) {
  switch (button) {
    case 1: return MouseButton::Left;
    case 2: return MouseButton::Middle;
    case 3: return MouseButton::Right;
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<Event> eventFromGdk(const GdkEvent& event) {
  switch (event.type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
      const GdkEventButton& b = event.button;
      const std::optional<MouseButton> button = mouseButton(b.button);
      if (!button) return std::nullopt;
      const Point at{int32_t(b.x), int32_t(b.y)};
      if (event.type == GDK_BUTTON_PRESS) return PointerPress{at, *button};
      if (event.type == GDK_2BUTTON_PRESS) return PointerDoubleClick{at, *button};
      return PointerRelease{at, *button};
    }
    case GDK_MOTION_NOTIFY:
      return PointerMove{{int32_t(event.motion.x), int32_t(event.motion.y)},
                         (event.motion.state & GDK_BUTTON1_MASK) != 0};
    case GDK_KEY_PRESS:
      switch (event.key.keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter: return KeyPress{Key::Enter};
        case GDK_KEY_Escape: return KeyPress{Key::Escape};
        default: return KeyPress{Key::Other};
      }
    default:
      return std::nullopt;
  }
}

}  // namespace tonalis::lnx
