// e2e_probe_window: a stand-in for the real program that the harness's own smoke test drives.
// It shows a layered 32-bpp DIB window of two known colours (left half, right half) at a known
// place, adds a tray icon with a pop-up menu, records from the default wave-in device, and
// reports what it sees as lines on stdout:
//   wavein_devices N
//   window HWND x y w h
//   level buffers=B peak=P rms=R          every 250 ms of recorded sound (B: buffers so far)
//   tray 0xMSG | command ID | keydown VK | lbuttondown X Y | dblclk | pos X Y | lowered | close | exit CODE
// (lbuttondown: the point in screen pixels.)
//
// Options: --x --y --w --h (pixels), --color RRGGBB, --color2 RRGGBB, --title T, --no-record,
// --exit-code N (returned after a normal close), --normal (not topmost: a plain application
// window, stacked by the window manager among the others). Command 1004 (posted WM_COMMAND) moves the window to the bottom of the
// stacking order, under everything else on the desktop.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kTrayCallbackMessage = WM_USER + 101;  // same callback and icon id as the program
constexpr UINT kTrayIconId = 133;
constexpr UINT kCmdAlpha = 1001;
constexpr UINT kCmdBeta = 1002;
constexpr UINT kCmdExit = 1003;
constexpr UINT kCmdLower = 1004;

std::mutex gOutLock;
std::atomic<bool> gRunning{true};
int gExitCode = 0;
RECT gLastPos{};

void say(const char* fmt, ...) {
    std::lock_guard<std::mutex> lock(gOutLock);
    va_list args;
    va_start(args, fmt);
    std::vprintf(fmt, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Records mono 16-bit at 65 536 Hz in 256-sample buffers, as the program does, and reports the
// level every 64 buffers (250 ms).
void recordLoop() {
    WAVEFORMATEX fmt{};
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = 1;
    fmt.nSamplesPerSec = 65536;
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = 2;
    fmt.nAvgBytesPerSec = 65536 * 2;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWAVEIN in = nullptr;
    const MMRESULT rc = waveInOpen(&in, WAVE_MAPPER, &fmt, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT);
    if (rc != MMSYSERR_NOERROR) {
        say("wavein_open_failed %u", rc);
        CloseHandle(event);
        return;
    }
    constexpr int kBuffers = 16;
    constexpr int kSamples = 256;
    std::vector<short> memory(kBuffers * kSamples);
    WAVEHDR headers[kBuffers] = {};
    for (int i = 0; i < kBuffers; ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(memory.data() + i * kSamples);
        headers[i].dwBufferLength = kSamples * 2;
        waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR));
    }
    waveInStart(in);
    long long buffers = 0;
    int inWindow = 0;
    int peak = 0;
    double sumSquares = 0;
    int next = 0;
    while (gRunning) {
        WaitForSingleObject(event, 100);
        while (gRunning && (headers[next].dwFlags & WHDR_DONE)) {
            const short* s = reinterpret_cast<const short*>(headers[next].lpData);
            const int n = static_cast<int>(headers[next].dwBytesRecorded / 2);
            for (int i = 0; i < n; ++i) {
                peak = std::max(peak, std::abs(static_cast<int>(s[i])));
                sumSquares += static_cast<double>(s[i]) * s[i];
            }
            ++buffers;
            if (++inWindow == 64) {
                say("level buffers=%lld peak=%d rms=%.1f", buffers, peak, std::sqrt(sumSquares / (64.0 * kSamples)));
                inWindow = 0;
                peak = 0;
                sumSquares = 0;
            }
            headers[next].dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
            waveInAddBuffer(in, &headers[next], sizeof(WAVEHDR));
            next = (next + 1) % kBuffers;
        }
    }
    waveInReset(in);
    for (auto& h : headers) waveInUnprepareHeader(in, &h, sizeof(WAVEHDR));
    waveInClose(in);
    CloseHandle(event);
}

void addTrayIcon(HWND hwnd) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayIconId;
    nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = kTrayCallbackMessage;
    nid.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wcscpy_s(nid.szTip, L"E2E Probe");
    if (!Shell_NotifyIconW(NIM_ADD, &nid)) say("tray_add_failed");
}

void removeTrayIcon(HWND hwnd) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &nid);
}

void showMenu(HWND hwnd) {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kCmdAlpha, L"Alpha");
    AppendMenuW(menu, MF_STRING, kCmdBeta, L"Beta");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCmdExit, L"\x9000\x51FA");  // "exit" in Chinese, to exercise CJK fonts
    POINT pt{};
    GetCursorPos(&pt);
    SetForegroundWindow(hwnd);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd, nullptr);
    PostMessageW(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

LRESULT CALLBACK wndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kTrayCallbackMessage:
            say("tray 0x%x", static_cast<unsigned>(lp));
            if (lp == WM_RBUTTONUP) showMenu(hwnd);
            return 0;
        case WM_COMMAND:
            say("command %u", static_cast<unsigned>(LOWORD(wp)));
            if (LOWORD(wp) == kCmdExit) DestroyWindow(hwnd);
            if (LOWORD(wp) == kCmdLower) {
                SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                say("lowered");
            }
            return 0;
        case WM_LBUTTONDOWN: {
            POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            ClientToScreen(hwnd, &pt);
            say("lbuttondown %ld %ld", pt.x, pt.y);
            // Drag the whole window by its body, as the program does.
            ReleaseCapture();
            SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            return 0;
        }
        case WM_LBUTTONDBLCLK:
            say("dblclk");
            return 0;
        case WM_WINDOWPOSCHANGED: {
            RECT rc{};
            GetWindowRect(hwnd, &rc);
            if (rc.left != gLastPos.left || rc.top != gLastPos.top) {
                gLastPos = rc;
                say("pos %ld %ld", rc.left, rc.top);
            }
            break;
        }
        case WM_CLOSE:
            say("close");
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            removeTrayIcon(hwnd);
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool parseInt(const wchar_t* text, long& out, int base = 10) {
    if (!text) return false;
    wchar_t* end = nullptr;
    out = std::wcstol(text, &end, base);
    return end && *end == L'\0' && end != text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long x = 100, y = 100, w = 200, h = 100;
    long color = 0xFF0000, color2 = 0x0000FF;
    long exitCode = 0;
    bool record = true;
    bool topmost = true;
    std::wstring title = L"E2E Probe";
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        const wchar_t* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (a == L"--x") ok = parseInt(v, x), ++i;
        else if (a == L"--y") ok = parseInt(v, y), ++i;
        else if (a == L"--w") ok = parseInt(v, w), ++i;
        else if (a == L"--h") ok = parseInt(v, h), ++i;
        else if (a == L"--color") ok = parseInt(v, color, 16), ++i;
        else if (a == L"--color2") ok = parseInt(v, color2, 16), ++i;
        else if (a == L"--exit-code") ok = parseInt(v, exitCode), ++i;
        else if (a == L"--title") ok = v != nullptr, title = v ? v : L"", ++i;
        else if (a == L"--no-record") record = false;
        else if (a == L"--normal") topmost = false;
        else ok = false;
        if (!ok || w <= 0 || h <= 0) {
            std::fprintf(stderr, "e2e_probe_window: bad argument %ls\n", a.c_str());
            return 3;
        }
    }
    gExitCode = static_cast<int>(exitCode);

    const UINT devices = waveInGetNumDevs();
    say("wavein_devices %u", devices);

    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = wndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = L"TonalisE2EProbe";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(WS_EX_LAYERED | (topmost ? WS_EX_TOOLWINDOW | WS_EX_TOPMOST : WS_EX_APPWINDOW), wc.lpszClassName, title.c_str(),
                                WS_POPUP, x, y, w, h, nullptr, nullptr, inst, nullptr);
    if (!hwnd) {
        say("create_window_failed %lu", GetLastError());
        return 4;
    }

    // Top-down 32-bpp DIB: pixel words are 0x00RRGGBB; the alpha byte is made opaque.
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    auto* px = static_cast<DWORD*>(bits);
    for (long row = 0; row < h; ++row) {
        for (long col = 0; col < w; ++col) {
            px[row * w + col] = 0xFF000000u | static_cast<DWORD>(col < w / 2 ? color : color2);
        }
    }
    POINT dst{x, y};
    SIZE size{w, h};
    POINT src{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, 0};
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    if (!UpdateLayeredWindow(hwnd, screen, &dst, &size, mem, &src, 0, &blend, ULW_ALPHA)) {
        say("update_layered_failed %lu", GetLastError());
    }
    GetWindowRect(hwnd, &gLastPos);
    say("window 0x%llx %ld %ld %ld %ld", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)), x, y, w,
        h);
    addTrayIcon(hwnd);

    std::thread recorder;
    if (record && devices > 0) recorder = std::thread(recordLoop);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Posted keys are seen here, before dispatch, like a dialog's pre-translation.
        if (msg.message == WM_KEYDOWN) say("keydown %u", static_cast<unsigned>(msg.wParam));
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    gRunning = false;
    if (recorder.joinable()) recorder.join();
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    say("exit %d", gExitCode);
    return gExitCode;
}
