// Native messages as the main window receives them, read into the program's events: packed coordinates, command and system-menu words, the tray's
// callback, and the messages known only at run time.
#include "backend/win32/event_translation.h"

#include <dbt.h>
#include <gtest/gtest.h>
#include <wtsapi32.h>

#include <cstddef>
#include <vector>

namespace tonalis::win32 {
namespace {

constexpr MessageVocabulary Vocabulary{133, 0xC101, 0xC102, 32783};

std::optional<Event> translate(UINT message, WPARAM wParam, LPARAM lParam) {
  return translateMessage(message, wParam, lParam, Vocabulary);
}

template <class T>
T as(const std::optional<Event>& event) {
  EXPECT_TRUE(event.has_value());
  EXPECT_TRUE(event && std::holds_alternative<T>(*event)) << (event ? event->index() : 99);
  return event && std::holds_alternative<T>(*event) ? std::get<T>(*event) : T{};
}

TEST(EventTranslation, MouseMessagesCarrySignedClientCoordinatesAndTheButton) {
  struct Case {
    int x, y;
  };
  // A captured drag reports points left of and above the client area as negative 16-bit values.
  const Case points[] = {{0, 0}, {442, 144}, {-1, -1}, {-300, 20}, {20, -32768}, {32767, -5}};
  for (const Case& p : points) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    const LPARAM at = MAKELPARAM(p.x, p.y);
    EXPECT_EQ(as<PointerPress>(translate(WM_LBUTTONDOWN, MK_LBUTTON, at)).at, (Point{p.x, p.y}));
    EXPECT_EQ(as<PointerRelease>(translate(WM_LBUTTONUP, 0, at)).at, (Point{p.x, p.y}));
    EXPECT_EQ(as<PointerDoubleClick>(translate(WM_LBUTTONDBLCLK, MK_LBUTTON, at)).at, (Point{p.x, p.y}));
    EXPECT_EQ(as<PointerMove>(translate(WM_MOUSEMOVE, 0, at)).at, (Point{p.x, p.y}));
  }
  // Bits above the low 32 of a 64-bit lParam are not part of the point.
  EXPECT_EQ(as<PointerMove>(translate(WM_MOUSEMOVE, 0, LPARAM(0x7FFF00000000LL) | MAKELPARAM(-2, 3))).at, (Point{-2, 3}));

  EXPECT_TRUE(as<PointerMove>(translate(WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, 0)).leftHeld);
  EXPECT_FALSE(as<PointerMove>(translate(WM_MOUSEMOVE, MK_RBUTTON, 0)).leftHeld);
  EXPECT_EQ(as<PointerPress>(translate(WM_RBUTTONDOWN, MK_RBUTTON, 0)).button, MouseButton::Right);
  EXPECT_EQ(as<PointerPress>(translate(WM_MBUTTONDOWN, MK_MBUTTON, 0)).button, MouseButton::Middle);
  EXPECT_EQ(as<PointerRelease>(translate(WM_RBUTTONUP, 0, 0)).button, MouseButton::Right);
  EXPECT_EQ(as<PointerPress>(translate(WM_LBUTTONDOWN, MK_LBUTTON, 0)).button, MouseButton::Left);
}

TEST(EventTranslation, CommandsTimersAndTheSystemMenu) {
  // A control's notification code rides in the high word; the command is the low word.
  EXPECT_EQ(as<Command>(translate(WM_COMMAND, MAKEWPARAM(32782, 0), 0)).id, 32782u);
  EXPECT_EQ(as<Command>(translate(WM_COMMAND, MAKEWPARAM(1, BN_CLICKED + 1), 0)).id, 1u);
  // The system menu's About item is the About command (the system keeps the low four bits
  // of a system command for itself); the system's own items stay the system's.
  EXPECT_EQ(as<Command>(translate(WM_SYSCOMMAND, 0x10, 0)).id, 32783u);
  EXPECT_EQ(as<Command>(translate(WM_SYSCOMMAND, 0x13, 0)).id, 32783u);
  EXPECT_FALSE(translate(WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0).has_value());
  EXPECT_FALSE(translate(WM_SYSCOMMAND, SC_MINIMIZE, 0).has_value());
  EXPECT_FALSE(translateMessage(WM_SYSCOMMAND, 0x10, 0, MessageVocabulary{}).has_value()) << "no About item given";
  EXPECT_EQ(as<TimerTick>(translate(WM_TIMER, 2, 0)).id, 2u);
}

TEST(EventTranslation, TheTrayIconsCallbackOnlyForOurIcon) {
  struct Case {
    WPARAM icon;
    LPARAM mouse;
    int expected;  // 0 nothing, 1 activate, 2 menu
  };
  const Case cases[] = {
      {133, WM_LBUTTONDBLCLK, 1},
      {133, WM_RBUTTONUP, 2},
      {133, MAKELPARAM(WM_RBUTTONUP, 133), 2},  // a newer shell puts the icon id in the high word
      {133, WM_LBUTTONUP, 0},
      {133, WM_MOUSEMOVE, 0},
      {133, WM_RBUTTONDOWN, 0},
      {134, WM_RBUTTONUP, 0},  // another icon's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.icon << " " << std::hex << c.mouse);
    const std::optional<Event> event = translate(TrayCallbackMessage, c.icon, c.mouse);
    const int got = !event ? 0 : std::holds_alternative<TrayActivate>(*event) ? 1
                               : std::holds_alternative<TrayMenuRequest>(*event) ? 2 : -1;
    EXPECT_EQ(got, c.expected);
  }
  // No icon of ours yet: nothing is ours.
  EXPECT_FALSE(translateMessage(TrayCallbackMessage, 0, WM_RBUTTONUP, MessageVocabulary{}));
}

TEST(EventTranslation, SystemAndRunTimeMessages) {
  EXPECT_TRUE(as<SessionEnd>(translate(WM_ENDSESSION, TRUE, 0)).ending);
  EXPECT_FALSE(as<SessionEnd>(translate(WM_ENDSESSION, FALSE, 0)).ending);
  EXPECT_TRUE(as<SessionQuery>(translate(WM_QUERYENDSESSION, 0, 0)).agree);
  EXPECT_TRUE(as<SessionLock>(translate(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1)).locked);
  EXPECT_FALSE(as<SessionLock>(translate(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 1)).locked);
  EXPECT_FALSE(translate(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 1));
  as<DisplayChange>(translate(WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080)));
  as<DisplayChange>(translate(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0));
  EXPECT_FALSE(translate(WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, 0)) << "only the work area moves the strip";
  as<ShellRestarted>(translate(0xC101, 0, 0));
  as<SecondInstance>(translate(0xC102, 0, 0));
  // A message nobody registered is nothing, even when a registration failed (id 0).
  EXPECT_FALSE(translate(0xC103, 0, 0));
  EXPECT_FALSE(translateMessage(0, 0, 0, MessageVocabulary{}));
  EXPECT_FALSE(translate(WM_NCHITTEST, 0, 0));
}

TEST(EventTranslation, DeviceChangeReadsTheInterfacePath) {
  const wchar_t path[] = L"\\\\?\\HID#VID_1234&PID_5678#7&1&0000#{4d1e55b2}";
  std::vector<std::byte> record(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof(path));
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  header->dbcc_size = DWORD(record.size());
  header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::copy(std::begin(path), std::end(path), header->dbcc_name);
  const LPARAM lParam = reinterpret_cast<LPARAM>(record.data());

  const DeviceChange arrival = as<DeviceChange>(translate(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lParam));
  EXPECT_EQ(arrival.kind, DeviceChange::Kind::Arrived);
  EXPECT_EQ(arrival.path, "\\\\?\\HID#VID_1234&PID_5678#7&1&0000#{4d1e55b2}");
  EXPECT_EQ(as<DeviceChange>(translate(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, lParam)).kind,
            DeviceChange::Kind::Removed);
  // Other notifications carry no record to read.
  EXPECT_EQ(as<DeviceChange>(translate(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0)).kind, DeviceChange::Kind::Other);
}

TEST(EventTranslation, KeysOfTheModalLoop) {
  MSG msg{};
  msg.message = WM_KEYDOWN;
  msg.wParam = VK_RETURN;
  EXPECT_EQ(translateKey(msg)->key, Key::Enter);
  msg.wParam = VK_ESCAPE;
  EXPECT_EQ(translateKey(msg)->key, Key::Escape);
  msg.wParam = VK_TAB;
  EXPECT_EQ(translateKey(msg)->key, Key::Other);
  msg.message = WM_KEYUP;
  EXPECT_FALSE(translateKey(msg));
}

}  // namespace
}  // namespace tonalis::win32
