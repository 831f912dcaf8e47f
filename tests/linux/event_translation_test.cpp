// GDK's pointer and key events as the core's events.
#include "backend/linux/event_translation.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <variant>

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

TEST(EventTranslation, PointerAndKeysBecomeTheCoresEvents) {
  GdkEvent motion{}, still{};
  motion.motion.type = still.motion.type = GDK_MOTION_NOTIFY;
  motion.motion.x = 12.7;
  motion.motion.y = 3;
  motion.motion.state = GDK_BUTTON1_MASK | GDK_SHIFT_MASK;
  still.motion.state = GDK_BUTTON3_MASK;
  GdkEvent escape{}, enter{}, returnKey{}, letter{};
  escape.key.type = enter.key.type = returnKey.key.type = letter.key.type = GDK_KEY_PRESS;
  escape.key.keyval = GDK_KEY_Escape;
  returnKey.key.keyval = GDK_KEY_Return;
  enter.key.keyval = GDK_KEY_KP_Enter;
  letter.key.keyval = GDK_KEY_q;
  GdkEvent scroll{};
  scroll.scroll.type = GDK_SCROLL;
  struct Case {
    const char* what;
    GdkEvent event;
    std::optional<Event> want;
  } cases[] = {
      {"left press", button(GDK_BUTTON_PRESS, 1, 10, 20, 0), PointerPress{{10, 20}, MouseButton::Left}},
      {"left double-click", button(GDK_2BUTTON_PRESS, 1, 10, 20, GDK_BUTTON1_MASK),
       PointerDoubleClick{{10, 20}, MouseButton::Left}},
      {"right release", button(GDK_BUTTON_RELEASE, 3, 1, 2, GDK_BUTTON3_MASK), PointerRelease{{1, 2}, MouseButton::Right}},
      {"middle press", button(GDK_BUTTON_PRESS, 2, 4, 5, 0), PointerPress{{4, 5}, MouseButton::Middle}},
      {"left of the window: negative coordinates", button(GDK_BUTTON_PRESS, 1, -3, -1, 0),
       PointerPress{{-3, -1}, MouseButton::Left}},
      {"a fourth button means nothing", button(GDK_BUTTON_PRESS, 8, 1, 1, 0), std::nullopt},
      {"motion with the left button held", motion, PointerMove{{12, 3}, true}},
      {"motion with only the right button held", still, PointerMove{{0, 0}, false}},
      {"Escape", escape, KeyPress{Key::Escape}},
      {"Enter of the keypad", enter, KeyPress{Key::Enter}},
      {"the main Return key", returnKey, KeyPress{Key::Enter}},
      {"any other key", letter, KeyPress{Key::Other}},
      {"a scroll means nothing", scroll, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<Event> got = eventFromGdk(c.event);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.what;
    if (!got) continue;
    ASSERT_EQ(got->index(), c.want->index()) << c.what;
    std::visit(
        [&](const auto& want) {
          using E = std::decay_t<decltype(want)>;
          const E& have = std::get<E>(*got);
          if constexpr (requires { want.at; }) {
            EXPECT_EQ(have.at, want.at) << c.what;
          }
          if constexpr (requires { want.button; }) {
            EXPECT_EQ(have.button, want.button) << c.what;
          }
          if constexpr (requires { want.leftHeld; }) {
            EXPECT_EQ(have.leftHeld, want.leftHeld) << c.what;
          }
          if constexpr (requires { want.key; }) {
            EXPECT_EQ(have.key, want.key) << c.what;
          }
        },
        *c.want);
  }
}

}  // namespace
}  // namespace tonalis::lnx
