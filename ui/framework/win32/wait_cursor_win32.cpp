#include "ui/framework/wait_cursor.h"

#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace {
int g_depth = 0;
HHOOK g_hook = nullptr;

// Every window answers WM_SETCURSOR with its own cursor (the arrow, the edit box's I-beam) as
// the mouse moves. Once it has, the wait cursor is put back, before anything is drawn.
LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && g_depth > 0) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (message->message == WM_SETCURSOR) SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

// Asks the window under the mouse for its cursor again, as a mouse move would.
void RestoreCursor() {
  POINT point{};
  HWND window = GetCursorPos(&point) ? WindowFromPoint(point) : nullptr;
  if (window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
    if (SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                     MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE))) {
      return;
    }
  }
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}
}  // namespace

namespace win32 {
bool IsWaitCursorShown() {
  return g_depth > 0;
}
}  // namespace win32

CWaitCursor::CWaitCursor() {
  if (g_depth++ == 0) {
    g_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
  }
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

CWaitCursor::~CWaitCursor() {
  if (--g_depth > 0) return;
  if (g_hook) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  RestoreCursor();
}

}  // namespace lumivex::ui
