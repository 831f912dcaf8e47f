// What the program hears from the window system, already decoded. The backend turns each
// native message it knows into one of these (and answers the system from the fields a
// handler fills in); the application never sees a native encoding.
//
// One std::variant of small structs: a handler takes exactly the record it needs, a
// backend builds one with a designated initialiser, and a test queues any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "common/types.h"
#include "platform/hid_host.h"

namespace tonalis {

enum class MouseButton : uint8_t { Left, Right, Middle };

// Pointer events over the window, in client coordinates (negative left of or above the
// client area while the pointer is captured).
struct PointerPress {
  Point at;
  MouseButton button = MouseButton::Left;
};
struct PointerRelease {
  Point at;
  MouseButton button = MouseButton::Left;
};
struct PointerDoubleClick {
  Point at;
  MouseButton button = MouseButton::Left;
};
struct PointerMove {
  Point at;
  bool leftHeld = false;  // the left button is down during the move
};

enum class Key : uint8_t { Enter, Escape, Other };
// A key pressed while the main window has the focus. A handler that takes it keeps it from
// the system's own keyboard handling.
struct KeyPress {
  Key key = Key::Other;
};

// A menu item (the tray's, or the About item of the Windows system menu) was chosen.
struct Command {
  uint32_t id = 0;
};

// The notification-area icon: double-clicked, or asked for its menu (a right click).
struct TrayActivate {};
struct TrayMenuRequest {};

struct TimerTick {
  uint32_t id = 0;
};

// The system asks for the window's picture, or for its background to be erased. A
// handler that returns false leaves both to the system.
struct PaintRequest {};
struct EraseBackground {};
struct CloseRequest {};

// A device interface came or went: DeviceChange, from the HID host port (hid_host.h).
// The screens changed: resolution, primary monitor, rotation or work area.
struct DisplayChange {};
// The window's scale changed (it moved to a monitor of another scale, or that monitor's
// scale was changed): `scale` is the new factor (1.0 = 100 %), `suggested` where the system
// would have the window now, in screen pixels (empty: keep the top-left corner).
struct ScaleChange {
  double scale = 1.0;
  Rect suggested;
};
// The session is about to end: a handler may refuse by clearing `agree`.
struct SessionQuery {
  bool agree = true;
};
// The session's end was decided: `ending` when it really ends.
struct SessionEnd {
  bool ending = false;
};
// The shell restarted and forgot every tray icon.
struct ShellRestarted {};
// The session was locked (or unlocked): its desktop cannot be seen meanwhile.
struct SessionLock {
  bool locked = true;
};
// A second copy of the program was started and asks this one to show itself.
struct SecondInstance {};

// The program's own notifications, posted to the window from any thread.
struct AppEvent {
  uint32_t id = 0;
};

using Event = std::variant<PointerPress, PointerRelease, PointerDoubleClick, PointerMove, KeyPress, Command,
                           TrayActivate, TrayMenuRequest, TimerTick, PaintRequest, EraseBackground,
                           CloseRequest, DeviceChange, DisplayChange, SessionQuery, SessionEnd,
                           ShellRestarted, SecondInstance, AppEvent, SessionLock, ScaleChange>;

namespace detail {
template <class T, class V> struct EventIndex;
template <class T, class... Ts> struct EventIndex<T, std::variant<Ts...>> {
  static constexpr size_t value = [] {
    constexpr bool same[] = {std::is_same_v<T, Ts>...};
    for (size_t i = 0; i < sizeof...(Ts); ++i) {
      if (same[i]) return i;
    }
    return sizeof...(Ts);
  }();
};
}  // namespace detail

// The kind of an event: its alternative's index in Event.
template <class T>
inline constexpr size_t eventKind = detail::EventIndex<T, Event>::value;

// The id an event carries (command, timer or notification), 0 for others.
constexpr uint32_t eventId(const Event& event) {
  if (const auto* e = std::get_if<Command>(&event)) return e->id;
  if (const auto* e = std::get_if<TimerTick>(&event)) return e->id;
  if (const auto* e = std::get_if<AppEvent>(&event)) return e->id;
  return 0;
}

}  // namespace tonalis
