// The portable message ids must carry the Windows values: checked here, where both exist.
// The portable constants are read before <windows.h> turns their names into macros.
#include "framework/messages.h"

namespace {
constexpr long long portable_WM_CREATE = tonalis::WM_CREATE;
constexpr long long portable_WM_DESTROY = tonalis::WM_DESTROY;
constexpr long long portable_WM_PAINT = tonalis::WM_PAINT;
constexpr long long portable_WM_CLOSE = tonalis::WM_CLOSE;
constexpr long long portable_WM_QUIT = tonalis::WM_QUIT;
constexpr long long portable_WM_ERASEBKGND = tonalis::WM_ERASEBKGND;
constexpr long long portable_WM_ICONERASEBKGND = tonalis::WM_ICONERASEBKGND;
constexpr long long portable_WM_QUERYDRAGICON = tonalis::WM_QUERYDRAGICON;
constexpr long long portable_WM_SETCURSOR = tonalis::WM_SETCURSOR;
constexpr long long portable_WM_KEYDOWN = tonalis::WM_KEYDOWN;
constexpr long long portable_WM_INITDIALOG = tonalis::WM_INITDIALOG;
constexpr long long portable_WM_COMMAND = tonalis::WM_COMMAND;
constexpr long long portable_WM_SYSCOMMAND = tonalis::WM_SYSCOMMAND;
constexpr long long portable_WM_TIMER = tonalis::WM_TIMER;
constexpr long long portable_WM_CTLCOLORSTATIC = tonalis::WM_CTLCOLORSTATIC;
constexpr long long portable_WM_MOUSEMOVE = tonalis::WM_MOUSEMOVE;
constexpr long long portable_WM_LBUTTONDOWN = tonalis::WM_LBUTTONDOWN;
constexpr long long portable_WM_LBUTTONUP = tonalis::WM_LBUTTONUP;
constexpr long long portable_WM_LBUTTONDBLCLK = tonalis::WM_LBUTTONDBLCLK;
constexpr long long portable_WM_RBUTTONDOWN = tonalis::WM_RBUTTONDOWN;
constexpr long long portable_WM_RBUTTONUP = tonalis::WM_RBUTTONUP;
constexpr long long portable_WM_MBUTTONDOWN = tonalis::WM_MBUTTONDOWN;
constexpr long long portable_WM_DEVICECHANGE = tonalis::WM_DEVICECHANGE;
constexpr long long portable_WM_USER = tonalis::WM_USER;
constexpr long long portable_WM_APP = tonalis::WM_APP;
constexpr long long portable_VK_RETURN = tonalis::VK_RETURN;
constexpr long long portable_VK_ESCAPE = tonalis::VK_ESCAPE;
constexpr long long portable_IDOK = tonalis::IDOK;
constexpr long long portable_IDCANCEL = tonalis::IDCANCEL;
constexpr long long portable_SC_MOVE = tonalis::SC_MOVE;
constexpr long long portable_HTCAPTION = tonalis::HTCAPTION;
}  // namespace

#include <windows.h>

static_assert(portable_WM_CREATE == WM_CREATE, "WM_CREATE");
static_assert(portable_WM_DESTROY == WM_DESTROY, "WM_DESTROY");
static_assert(portable_WM_PAINT == WM_PAINT, "WM_PAINT");
static_assert(portable_WM_CLOSE == WM_CLOSE, "WM_CLOSE");
static_assert(portable_WM_QUIT == WM_QUIT, "WM_QUIT");
static_assert(portable_WM_ERASEBKGND == WM_ERASEBKGND, "WM_ERASEBKGND");
static_assert(portable_WM_ICONERASEBKGND == WM_ICONERASEBKGND, "WM_ICONERASEBKGND");
static_assert(portable_WM_QUERYDRAGICON == WM_QUERYDRAGICON, "WM_QUERYDRAGICON");
static_assert(portable_WM_SETCURSOR == WM_SETCURSOR, "WM_SETCURSOR");
static_assert(portable_WM_KEYDOWN == WM_KEYDOWN, "WM_KEYDOWN");
static_assert(portable_WM_INITDIALOG == WM_INITDIALOG, "WM_INITDIALOG");
static_assert(portable_WM_COMMAND == WM_COMMAND, "WM_COMMAND");
static_assert(portable_WM_SYSCOMMAND == WM_SYSCOMMAND, "WM_SYSCOMMAND");
static_assert(portable_WM_TIMER == WM_TIMER, "WM_TIMER");
static_assert(portable_WM_CTLCOLORSTATIC == WM_CTLCOLORSTATIC, "WM_CTLCOLORSTATIC");
static_assert(portable_WM_MOUSEMOVE == WM_MOUSEMOVE, "WM_MOUSEMOVE");
static_assert(portable_WM_LBUTTONDOWN == WM_LBUTTONDOWN, "WM_LBUTTONDOWN");
static_assert(portable_WM_LBUTTONUP == WM_LBUTTONUP, "WM_LBUTTONUP");
static_assert(portable_WM_LBUTTONDBLCLK == WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK");
static_assert(portable_WM_RBUTTONDOWN == WM_RBUTTONDOWN, "WM_RBUTTONDOWN");
static_assert(portable_WM_RBUTTONUP == WM_RBUTTONUP, "WM_RBUTTONUP");
static_assert(portable_WM_MBUTTONDOWN == WM_MBUTTONDOWN, "WM_MBUTTONDOWN");
static_assert(portable_WM_DEVICECHANGE == WM_DEVICECHANGE, "WM_DEVICECHANGE");
static_assert(portable_WM_USER == WM_USER, "WM_USER");
static_assert(portable_WM_APP == WM_APP, "WM_APP");
static_assert(portable_VK_RETURN == VK_RETURN, "VK_RETURN");
static_assert(portable_VK_ESCAPE == VK_ESCAPE, "VK_ESCAPE");
static_assert(portable_IDOK == IDOK, "IDOK");
static_assert(portable_IDCANCEL == IDCANCEL, "IDCANCEL");
static_assert(portable_SC_MOVE == SC_MOVE, "SC_MOVE");
static_assert(portable_HTCAPTION == HTCAPTION, "HTCAPTION");
