#include "ui/framework/dialog.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace {
HHOOK g_boxHook = nullptr;

// The box is made inside MessageBoxW; it is known here when Windows activates it, before it
// takes any input. A box that comes up while a command runs must stay usable, or nobody could
// dismiss it.
LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    if (GetClassNameW(window, className, 16) && std::wstring_view(className) == L"#32770") {
      KeepUsableWhileBlocked(window);
    }
  }
  return CallNextHookEx(g_boxHook, code, wParam, lParam);
}
}  // namespace

void ModalMessagePresenter::Show(CDialog& owner, const std::string& text,
                                 const std::string& title) {
  // Owned by the top-level window (the main window for a page), which the box disables while
  // it is up, as the panel's windows expect of a modal box.
  HWND ownerWindow = owner.GetSafeHwnd() ? GetAncestor(owner.GetSafeHwnd(), GA_ROOT) : nullptr;
  // Boxes can nest (a box from a timer while another is up); the outermost hook serves both.
  HHOOK previous = g_boxHook;
  HHOOK hook = SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId());
  g_boxHook = hook;
  // MB_OK alone: one OK button and no icon (nor the sound an icon brings). The text is shown as
  // written; a message box reads no markup.
  MessageBoxW(ownerWindow, win32::Widen(text).c_str(), win32::Widen(title).c_str(), MB_OK);
  if (hook) UnhookWindowsHookEx(hook);
  g_boxHook = previous;
}

}  // namespace lumivex::ui
