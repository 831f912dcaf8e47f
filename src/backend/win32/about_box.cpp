#include "backend/win32/about_box.h"

#include <exception>

#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {

struct AboutBox {
  const AboutInfo* info;
  Shell* shell;
  bool ended = false;
};

// The link label takes no mouse input itself: the box tests the cursor against its
// rectangle, so the empty part of the label counts too.
bool cursorOverLink(HWND box) {
  RECT r{};
  POINT p{};
  if (!GetWindowRect(GetDlgItem(box, AboutLinkId), &r) || !GetCursorPos(&p)) return false;
  return Rect{r.left, r.top, r.right, r.bottom}.contains({p.x, p.y});
}

INT_PTR procedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(box, GWLP_USERDATA, lParam);
    const auto* self = reinterpret_cast<AboutBox*>(lParam);
    const auto rows = aboutRows(*self->info);
    for (size_t i = 0; i < rows.size(); ++i) {
      SetDlgItemTextW(box, AboutValueIds[i], widen(aboutValueText(rows[i].value)).c_str());
    }
    SetDlgItemTextW(box, AboutLinkId, widen(aboutLinkLabel(*self->info)).c_str());
    return TRUE;  // the system sets the focus (the OK button)
  }
  auto* self = reinterpret_cast<AboutBox*>(GetWindowLongPtrW(box, GWLP_USERDATA));
  if (!self) return FALSE;
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // The system's colours, and blue text for the link.
      const INT_PTR brush = DefWindowProcW(box, message, wParam, lParam);
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == AboutLinkId) {
        const Rgb c = AboutLinkColor;
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
      }
      return brush;
    }
    case WM_SETCURSOR:
      if (!cursorOverLink(box)) return FALSE;
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      SetWindowLongPtrW(box, DWLP_MSGRESULT, TRUE);  // the cursor is set: the system must not set its own
      return TRUE;
    case WM_LBUTTONDOWN:
      if (cursorOverLink(box) && self->shell) openAboutLink(*self->info, *self->shell);
      return FALSE;  // then default processing
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) self->ended = true;
      return TRUE;
    case WM_CLOSE:
      self->ended = true;
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK aboutProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  // No C++ exception may unwind into the system's code that called us.
  try {
    return procedure(box, message, wParam, lParam);
  } catch (const std::exception& e) {
    OutputDebugStringA(e.what());
  } catch (...) {
    OutputDebugStringW(L"Tonalis: the About box failed");
  }
  return FALSE;
}

}  // namespace

void runAboutBox(HINSTANCE instance, HWND owner, const AboutInfo& info, Shell* shell, HWND& opened) {
  AboutBox self{&info, shell};
  HWND box = CreateDialogParamW(instance, MAKEINTRESOURCEW(AboutTemplateId), owner, aboutProc,
                                reinterpret_cast<LPARAM>(&self));
  if (!box) return;
  opened = box;
  ShowWindow(box, SW_SHOWNORMAL);
  // Modal to the main window, whose own messages (the frame timer's among them) are still
  // dispatched: the spectrum animates behind the box.
  EnableWindow(owner, FALSE);
  MSG msg;
  while (!self.ended) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // the program's quit: leave it for the main loop too
      PostQuitMessage(int(msg.wParam));
      break;
    }
    if (got < 0) break;
    // Enter chooses OK, Escape cancels, Tab moves the focus.
    if ((msg.hwnd == box || IsChild(box, msg.hwnd)) && IsDialogMessageW(box, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  EnableWindow(owner, TRUE);
  opened = nullptr;
  DestroyWindow(box);
}

}  // namespace tonalis::win32
