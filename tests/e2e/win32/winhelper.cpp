// winhelper: looks at and pokes a top-level window of another process, for the end-to-end
// scenarios that run under Wine. Every query prints one JSON object per line on stdout.
//
//   winhelper [selectors] find               the first matching window (visible ones first)
//   winhelper [selectors] wait               like find, but waits up to --timeout for it
//   winhelper list [--all]                   every visible (or every) top-level window, top first
//   winhelper [selectors] close              post WM_CLOSE
//   winhelper [selectors] command ID         post WM_COMMAND with ID
//   winhelper [selectors] tray MOUSEMSG      post the tray callback (0x465, wParam 133, lParam MOUSEMSG)
//   winhelper [selectors] key VK [--up]      post WM_KEYDOWN (and WM_KEYUP with --up)
//   winhelper [selectors] post MSG W L       post any message
//   winhelper [selectors] wait-gone          wait up to --timeout until no matching window exists
//   winhelper [selectors] text-fit PT FACE   the window's dialog base units and, for each child control
//                                            with text, its client size and the size its text needs, set
//                                            in the font a dialog template's "FONT PT, FACE" makes here
//   winhelper monitors                       each display monitor as the system lists it: its rectangle,
//                                            work area, device name and whether it is the primary one
//   winhelper idle                           print {"idle":true} and sleep until killed (keeps the
//                                            Wine session up between programs)
//
// Selectors: --title T (default "Tonalis"), --class C (default "#32770"), --any-title,
// --any-class, --hwnd H (a window handle as printed by find), --timeout MS (default 0 for find
// and the posting commands, 10000 for wait and wait-gone).
// Numbers may be decimal or 0x-hex; messages and keys also take names (WM_RBUTTONUP, ESCAPE, ...).
//
// Exit codes: 0 done, 1 no such window, 2 timed out waiting, 3 bad usage, 4 a Windows call failed.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitTimeout = 2;
constexpr int kExitUsage = 3;
constexpr int kExitFailed = 4;

constexpr UINT kTrayCallbackMessage = WM_USER + 101;  // 0x465
constexpr WPARAM kTrayIconId = 133;

struct Selector {
    std::wstring title = L"Tonalis";
    std::wstring cls = L"#32770";
    bool anyTitle = false;
    bool anyClass = false;
    HWND hwnd = nullptr;
    bool hasHwnd = false;
    long timeoutMs = -1;  // -1: the command's default
};

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string jsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const char c : toUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::wstring windowText(HWND hwnd) {
    wchar_t buf[512] = {};
    GetWindowTextW(hwnd, buf, 512);
    return buf;
}

std::wstring className(HWND hwnd) {
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

bool matches(const Selector& sel, HWND hwnd) {
    if (sel.hasHwnd) return hwnd == sel.hwnd;
    if (!sel.anyTitle && windowText(hwnd) != sel.title) return false;
    if (!sel.anyClass && className(hwnd) != sel.cls) return false;
    return true;
}

// Visible matches win over hidden ones, so a program's hidden helper windows never shadow it.
HWND findWindow(const Selector& sel) {
    if (sel.hasHwnd) return IsWindow(sel.hwnd) ? sel.hwnd : nullptr;
    HWND hidden = nullptr;
    for (HWND hwnd : topLevelWindows()) {
        if (!matches(sel, hwnd)) continue;
        if (IsWindowVisible(hwnd)) return hwnd;
        if (!hidden) hidden = hwnd;
    }
    return hidden;
}

std::string hex(unsigned long long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "\"0x%llx\"", v);
    return buf;
}

std::string describe(HWND hwnd) {
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    const auto style = static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto ex = static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);

    // Stacking: position among the visible top-level windows, 0 = topmost of all.
    int z = -1;
    int zCount = 0;
    for (HWND w : topLevelWindows()) {
        if (!IsWindowVisible(w)) continue;
        if (w == hwnd) z = zCount;
        ++zCount;
    }

    std::string layered = "null";
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    if ((ex & WS_EX_LAYERED) && GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags)) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "{\"alpha\":%u,\"colorkey\":\"0x%06lx\",\"flags\":%lu}", alpha,
                      static_cast<unsigned long>(key), static_cast<unsigned long>(flags));
        layered = buf;
    }

    auto flag = [](bool b) { return b ? "true" : "false"; };
    char geo[256];
    std::snprintf(geo, sizeof geo,
                  "\"left\":%ld,\"top\":%ld,\"right\":%ld,\"bottom\":%ld,\"width\":%ld,\"height\":%ld",
                  rc.left, rc.top, rc.right, rc.bottom, rc.right - rc.left, rc.bottom - rc.top);
    std::string out = "{\"hwnd\":" + hex(reinterpret_cast<ULONG_PTR>(hwnd));
    out += ",\"title\":" + jsonString(windowText(hwnd));
    out += ",\"class\":" + jsonString(className(hwnd));
    out += ",\"pid\":" + std::to_string(pid);
    out += std::string(",") + geo;
    out += std::string(",\"visible\":") + flag(IsWindowVisible(hwnd));
    out += std::string(",\"iconic\":") + flag(IsIconic(hwnd));
    out += ",\"style\":" + hex(style);
    out += ",\"exstyle\":" + hex(ex);
    out += std::string(",\"toolwindow\":") + flag(ex & WS_EX_TOOLWINDOW);
    out += std::string(",\"layered\":") + flag(ex & WS_EX_LAYERED);
    out += std::string(",\"transparent\":") + flag(ex & WS_EX_TRANSPARENT);
    out += std::string(",\"topmost\":") + flag(ex & WS_EX_TOPMOST);
    out += ",\"layered_attributes\":" + layered;
    out += ",\"z\":" + std::to_string(z) + ",\"zcount\":" + std::to_string(zCount);
    out += std::string(",\"foreground\":") + flag(GetForegroundWindow() == hwnd);
    return out + "}";
}

void printLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool parseNumber(const wchar_t* text, unsigned long long& out) {
    if (!text || !*text) return false;
    wchar_t* end = nullptr;
    out = std::wcstoull(text, &end, 0);
    return end && *end == L'\0';
}

struct Named {
    const wchar_t* name;
    unsigned long long value;
};

const Named kNames[] = {
    {L"WM_MOUSEMOVE", 0x200},     {L"WM_LBUTTONDOWN", 0x201}, {L"WM_LBUTTONUP", 0x202},
    {L"WM_LBUTTONDBLCLK", 0x203}, {L"WM_RBUTTONDOWN", 0x204}, {L"WM_RBUTTONUP", 0x205},
    {L"WM_RBUTTONDBLCLK", 0x206}, {L"WM_MBUTTONDOWN", 0x207}, {L"WM_MBUTTONUP", 0x208},
    {L"WM_CLOSE", 0x10},          {L"WM_COMMAND", 0x111},     {L"WM_KEYDOWN", 0x100},
    {L"WM_KEYUP", 0x101},         {L"WM_TIMER", 0x113},       {L"ESCAPE", VK_ESCAPE},
    {L"ESC", VK_ESCAPE},          {L"RETURN", VK_RETURN},     {L"ENTER", VK_RETURN},
    {L"SPACE", VK_SPACE},         {L"TAB", VK_TAB},
};

bool parseValue(const wchar_t* text, unsigned long long& out) {
    if (parseNumber(text, out)) return true;
    for (const Named& n : kNames) {
        if (text && _wcsicmp(text, n.name) == 0) {
            out = n.value;
            return true;
        }
    }
    return false;
}

HWND waitForWindow(const Selector& sel, long timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = findWindow(sel);
        if (hwnd && (sel.hasHwnd || IsWindowVisible(hwnd) || timeoutMs <= 0)) return hwnd;
        if (static_cast<long>(GetTickCount() - start) >= timeoutMs) return hwnd;
        Sleep(50);
    }
}

int post(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (!PostMessageW(hwnd, msg, w, l)) {
        std::fprintf(stderr, "winhelper: PostMessage(0x%x) failed: error %lu\n", msg, GetLastError());
        return kExitFailed;
    }
    printLine("{\"posted\":" + hex(msg) + ",\"hwnd\":" + hex(reinterpret_cast<ULONG_PTR>(hwnd)) + ",\"wparam\":" +
              hex(static_cast<unsigned long long>(w)) + ",\"lparam\":" +
              hex(static_cast<unsigned long long>(l)) + "}");
    return kExitOk;
}

// Measures as the dialog manager and the controls do: the template's font made at the screen's
// resolution, base units from the average width of the 52 letters and the line height, static
// text word-wrapped at the control's width, button text on one line.
int textFit(HWND dlg, int points, const std::wstring& face) {
    HDC dc = GetDC(nullptr);
    const int pixels = MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT font = CreateFontW(-pixels, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY,
                             FF_DONTCARE, face.c_str());
    if (!font) {
        ReleaseDC(nullptr, dc);
        std::fprintf(stderr, "winhelper: CreateFont failed\n");
        return kExitFailed;
    }
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE size{};
    GetTextExtentPoint32W(dc, letters, 52, &size);
    const int baseX = (size.cx / 26 + 1) / 2;
    wchar_t realized[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, realized);
    RECT client{};
    GetClientRect(dlg, &client);
    printLine("{\"face\":" + jsonString(realized) + ",\"pixels\":" + std::to_string(pixels) + ",\"base_x\":" +
              std::to_string(baseX) + ",\"base_y\":" + std::to_string(tm.tmHeight) + ",\"client_width\":" +
              std::to_string(client.right) + ",\"client_height\":" + std::to_string(client.bottom) + "}");

    std::vector<HWND> children;
    EnumChildWindows(
        dlg,
        [](HWND hwnd, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        const std::wstring text = windowText(child);
        const std::wstring cls = className(child);
        const auto style = static_cast<unsigned long>(GetWindowLongPtrW(child, GWL_STYLE));
        const bool isStatic = _wcsicmp(cls.c_str(), L"Static") == 0;
        if (text.empty() || (isStatic && (style & SS_TYPEMASK) > SS_RIGHT)) continue;  // pictures, frames
        RECT rc{};
        GetClientRect(child, &rc);
        UINT flags = DT_CALCRECT | DT_EXPANDTABS;
        flags |= isStatic ? DT_WORDBREAK : DT_SINGLELINE;
        if (isStatic && (style & SS_NOPREFIX)) flags |= DT_NOPREFIX;
        RECT need{0, 0, rc.right, 0};
        DrawTextW(dc, text.c_str(), -1, &need, flags);
        char geo[160];
        std::snprintf(geo, sizeof geo, ",\"width\":%ld,\"height\":%ld,\"need_width\":%ld,\"need_height\":%ld", rc.right,
                      rc.bottom, need.right, need.bottom);
        printLine("{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"class\":" + jsonString(cls) + ",\"text\":" +
                  jsonString(text) + geo + "}");
    }
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return kExitOk;
}

int usage(const char* why) {
    std::fprintf(stderr, "winhelper: %s\n", why);
    std::fprintf(stderr,
                 "usage: winhelper [--title T|--any-title] [--class C|--any-class] [--hwnd H] [--timeout MS]\n"
                 "                 find|wait|list [--all]|close|command ID|tray MSG|key VK [--up]|post MSG W L|"
                 "wait-gone|text-fit PT FACE\n");
    return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Physical pixels, as the screen shows them: a helper that is not DPI-aware is handed
    // the windows of a scaled desktop shrunk to 96 dpi (Wine 10 does this, as Windows does).
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (auto set = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
        set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    }
    Selector sel;
    std::vector<const wchar_t*> rest;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        auto next = [&]() -> const wchar_t* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == L"--title") {
            const wchar_t* v = next();
            if (!v) return usage("--title needs a value");
            sel.title = v;
        } else if (a == L"--class") {
            const wchar_t* v = next();
            if (!v) return usage("--class needs a value");
            sel.cls = v;
        } else if (a == L"--any-title") {
            sel.anyTitle = true;
        } else if (a == L"--any-class") {
            sel.anyClass = true;
        } else if (a == L"--hwnd") {
            unsigned long long v = 0;
            if (!parseNumber(next(), v)) return usage("--hwnd needs a number");
            sel.hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(v));
            sel.hasHwnd = true;
        } else if (a == L"--timeout") {
            unsigned long long v = 0;
            if (!parseNumber(next(), v)) return usage("--timeout needs milliseconds");
            sel.timeoutMs = static_cast<long>(v);
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (rest.empty()) return usage("no command");
    const std::wstring cmd = rest[0];
    const size_t nargs = rest.size() - 1;

    if (cmd == L"idle") {
        // Touching the desktop makes Wine start its explorer (desktop and tray) now, from this
        // process, rather than from a later short-lived call whose output pipe it would inherit.
        GetDesktopWindow();
        const DWORD start = GetTickCount();
        while (!FindWindowW(L"Shell_TrayWnd", nullptr) && GetTickCount() - start < 30000) Sleep(50);
        printLine("{\"idle\":true}");
        for (;;) Sleep(INFINITE);
    }

    if (cmd == L"monitors") {
        EnumDisplayMonitors(
            nullptr, nullptr,
            [](HMONITOR monitor, HDC, LPRECT, LPARAM) -> BOOL {
                MONITORINFOEXW info{};
                info.cbSize = sizeof(info);
                if (!GetMonitorInfoW(monitor, &info)) return TRUE;
                const RECT& r = info.rcMonitor;
                const RECT& w = info.rcWork;
                char geo[256];
                std::snprintf(geo, sizeof geo,
                              "\"left\":%ld,\"top\":%ld,\"right\":%ld,\"bottom\":%ld,\"work\":[%ld,%ld,%ld,%ld],", r.left,
                              r.top, r.right, r.bottom, w.left, w.top, w.right, w.bottom);
                printLine(std::string("{") + geo + "\"name\":" + jsonString(info.szDevice) +
                          ",\"primary\":" + ((info.dwFlags & MONITORINFOF_PRIMARY) ? "true" : "false") + "}");
                return TRUE;
            },
            0);
        return kExitOk;
    }

    if (cmd == L"list") {
        const bool all = nargs == 1 && std::wstring(rest[1]) == L"--all";
        for (HWND hwnd : topLevelWindows()) {
            if (all || IsWindowVisible(hwnd)) printLine(describe(hwnd));
        }
        return kExitOk;
    }

    if (cmd == L"wait-gone") {
        const long timeout = sel.timeoutMs < 0 ? 10000 : sel.timeoutMs;
        const DWORD start = GetTickCount();
        for (;;) {
            HWND hwnd = findWindow(sel);
            if (!hwnd) {
                printLine("{\"gone\":true}");
                return kExitOk;
            }
            if (static_cast<long>(GetTickCount() - start) >= timeout) {
                printLine("{\"gone\":false}");
                return kExitTimeout;
            }
            Sleep(50);
        }
    }

    const bool waiting = cmd == L"wait";
    const long timeout = sel.timeoutMs < 0 ? (waiting ? 10000 : 0) : sel.timeoutMs;
    HWND hwnd = waitForWindow(sel, timeout);
    if (!hwnd) {
        std::fprintf(stderr, "winhelper: no matching window\n");
        return kExitNotFound;
    }

    if (cmd == L"find" || waiting) {
        printLine(describe(hwnd));
        return (waiting && !IsWindowVisible(hwnd)) ? kExitTimeout : kExitOk;
    }
    if (cmd == L"close") {
        if (nargs != 0) return usage("close takes no argument");
        return post(hwnd, WM_CLOSE, 0, 0);
    }
    if (cmd == L"command") {
        unsigned long long id = 0;
        if (nargs != 1 || !parseNumber(rest[1], id)) return usage("command needs an id");
        return post(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
    }
    if (cmd == L"tray") {
        unsigned long long msg = 0;
        if (nargs != 1 || !parseValue(rest[1], msg)) return usage("tray needs a mouse message");
        return post(hwnd, kTrayCallbackMessage, kTrayIconId, static_cast<LPARAM>(msg));
    }
    if (cmd == L"key") {
        unsigned long long vk = 0;
        if (nargs < 1 || !parseValue(rest[1], vk)) return usage("key needs a virtual-key code");
        const bool up = nargs == 2 && std::wstring(rest[2]) == L"--up";
        const UINT scan = MapVirtualKeyW(static_cast<UINT>(vk), 0 /* MAPVK_VK_TO_VSC */);
        const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
        int rc = post(hwnd, WM_KEYDOWN, static_cast<WPARAM>(vk), down);
        if (rc == kExitOk && up) {
            rc = post(hwnd, WM_KEYUP, static_cast<WPARAM>(vk), down | (LPARAM{1} << 30) | (LPARAM{1} << 31));
        }
        return rc;
    }
    if (cmd == L"send") {
        // Sent, like the system sends WM_QUERYENDSESSION: the window's answer is printed.
        unsigned long long msg = 0;
        unsigned long long w = 0;
        unsigned long long l = 0;
        if (nargs != 3 || !parseValue(rest[1], msg) || !parseValue(rest[2], w) || !parseValue(rest[3], l)) {
            return usage("send needs MSG WPARAM LPARAM");
        }
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(w), static_cast<LPARAM>(l),
                                 SMTO_NORMAL, 10000, &answer)) {
            std::fprintf(stderr, "winhelper: the window did not answer\n");
            return kExitTimeout;
        }
        printLine("{\"result\":" + std::to_string(static_cast<unsigned long long>(answer)) + "}");
        return kExitOk;
    }
    if (cmd == L"terminate" || cmd == L"resources") {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        if (!process) {
            std::fprintf(stderr, "winhelper: cannot open process %lu\n", static_cast<unsigned long>(pid));
            return kExitNotFound;
        }
        if (cmd == L"terminate") {
            // What the system does to a program still running when the session ends.
            const BOOL ok = TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
            return ok ? kExitOk : kExitNotFound;
        }
        DWORD handles = 0;
        GetProcessHandleCount(process, &handles);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        char line[256];
        std::snprintf(line, sizeof line, "{\"gdi\":%lu,\"user\":%lu,\"handles\":%lu,\"private\":%llu}",
                      static_cast<unsigned long>(GetGuiResources(process, GR_GDIOBJECTS)),
                      static_cast<unsigned long>(GetGuiResources(process, GR_USEROBJECTS)),
                      static_cast<unsigned long>(handles),
                      static_cast<unsigned long long>(memory.PrivateUsage));
        CloseHandle(process);
        printLine(line);
        return kExitOk;
    }
    if (cmd == L"post") {
        unsigned long long msg = 0;
        unsigned long long w = 0;
        unsigned long long l = 0;
        if (nargs != 3 || !parseValue(rest[1], msg) || !parseValue(rest[2], w) || !parseValue(rest[3], l)) {
            return usage("post needs MSG WPARAM LPARAM");
        }
        return post(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(w), static_cast<LPARAM>(l));
    }
    if (cmd == L"text-fit") {
        unsigned long long points = 0;
        if (nargs != 2 || !parseNumber(rest[1], points) || points == 0) return usage("text-fit needs POINTS FACE");
        return textFit(hwnd, static_cast<int>(points), rest[2]);
    }
    return usage("unknown command");
}
