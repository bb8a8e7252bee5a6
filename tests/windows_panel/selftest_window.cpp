// A stand-in window for the driver's own test (lumivex-driver-selftest-window): a dialog titled
// as given on the command line, a tab control with the tabs "One" and "Two", and two pages whose
// buttons answer with message boxes, so that every kind of step of the driver meets a real
// window, control and message box under the same window system as the panel.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>
#include <shellapi.h>

#include <string>

namespace {

HWND Tabs = nullptr;
HWND Pages[2] = {};
int Current = 0;
// The choice of page Two's list when it last changed, as CBN_SELCHANGE reported it.
int LastChoice = -1;

void ShowPage(int index) {
  ShowWindow(Pages[Current], SW_HIDE);
  Current = index;
  RECT r{};
  GetClientRect(Tabs, &r);
  TabCtrl_AdjustRect(Tabs, FALSE, &r);
  MoveWindow(Pages[index], r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  ShowWindow(Pages[index], SW_SHOW);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM w, LPARAM) {
  if (message == WM_INITDIALOG) {
    if (HWND list = GetDlgItem(page, 1011)) {
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L" HDMI"));
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L" VGA"));
      SendMessageW(list, CB_SETCURSEL, 0, 0);
    }
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(w);
  const int code = HIWORD(w);
  if (id == 1001 && code == BN_CLICKED) {
    wchar_t caption[32] = {};
    GetDlgItemTextW(page, 1001, caption, 32);
    bool connecting = std::wstring(caption) == L"Connect";
    if (connecting) MessageBoxW(page, L"Connected to the board.", L"Board connection", MB_OK);
    SetDlgItemTextW(page, 1001, connecting ? L"Disconnect" : L"Connect");
  } else if (id == 1070 && code == BN_CLICKED) {
    wchar_t text[64] = {};
    GetDlgItemTextW(page, 1061, text, 64);
    std::wstring said =
        std::wstring(L"Mirror ") + (IsDlgButtonChecked(page, 1068) ? L"on, " : L"off, ") + text;
    MessageBoxW(page, said.c_str(), L"连接", MB_OK);
  } else if (id == 1011 && code == CBN_SELCHANGE) {
    LastChoice = static_cast<int>(SendDlgItemMessageW(page, 1011, CB_GETCURSEL, 0, 0));
  } else if (id == 1012 && code == BN_CLICKED) {
    std::wstring said = L"Choice " + std::to_wstring(LastChoice);
    MessageBoxW(page, said.c_str(), L"Input", MB_OK);
  }
  return TRUE;
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM, LPARAM l) {
  switch (message) {
    case WM_INITDIALOG: {
      Tabs = GetDlgItem(dialog, 1000);
      const wchar_t* titles[] = {L"One", L"Two"};
      for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(titles[i]);
        SendMessageW(Tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
        Pages[i] = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101 + i), Tabs,
                                      PageProc, 0);
      }
      SetWindowTextW(dialog, reinterpret_cast<const wchar_t*>(l));
      ShowPage(0);
      return TRUE;
    }
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(l)->code == TCN_SELCHANGE) ShowPage(TabCtrl_GetCurSel(Tabs));
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const wchar_t* title = argc > 1 ? argv[1] : L"Lumivex";
  HWND main = CreateDialogParamW(instance, MAKEINTRESOURCEW(100), nullptr, MainProc,
                                 reinterpret_cast<LPARAM>(title));
  ShowWindow(main, SW_SHOW);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
