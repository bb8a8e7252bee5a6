#include "ui/framework/shell.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ui/framework/dialog.h"
#include "ui/framework/win32/internal.h"

// After windows.h, which they build on.
#include <commctrl.h>
#include <commdlg.h>

namespace lumivex::ui {

namespace {
void EnablePerMonitorDpi() {
  // The manifest asks for per-monitor v2 already; this covers a copy started without it (a
  // manifest ignored by an older loader). Windows before 10 version 1703 lack the call and keep
  // what the manifest's dpiAware entry gave.
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  auto set = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  if (set) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

HWND TopLevel(CDialog& owner) {
  return owner.GetSafeHwnd() ? GetAncestor(owner.GetSafeHwnd(), GA_ROOT) : nullptr;
}

// Windows' text controls and Notepad end a line with CR LF; the panel's texts end it with LF.
std::wstring WithWindowsLineEnds(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}
}  // namespace

int RunApplication(int /*argc*/, char** /*argv*/, const std::function<void()>& run) {
  EnablePerMonitorDpi();
  // The window classes the templates use: tabs, trackbar (the slider), and the standard ones
  // in their common controls 6 look.
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES;
  InitCommonControlsEx(&classes);
  // This thread runs the windows: the gates and timers work from here.
  win32::MessageWindow();
  run();
  // A WM_QUIT that ended the loops carries the program's exit status.
  MSG quit;
  if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    return static_cast<int>(quit.wParam);
  }
  return 0;
}

bool LoadToolkitTranslation(const std::string& /*languageFilePath*/,
                            const std::string& /*programDirectory*/) {
  // The message box's OK button and the file chooser's texts are Windows' own, in the language
  // the user runs Windows in; a program cannot hand Windows translations of them. Nothing is
  // installed, and the panel's language still covers every text of its own.
  return false;
}

void SetClipboardText(const std::string& text) {
  const std::wstring wide = WithWindowsLineEnds(win32::Widen(text));
  // Another program may hold the clipboard for a moment (a clipboard manager reading it).
  bool open = false;
  for (int attempt = 0; attempt < 10 && !open; ++attempt) {
    open = OpenClipboard(win32::MessageWindow()) != FALSE;
    if (!open) Sleep(10);
  }
  if (!open) return;
  EmptyClipboard();
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* target = GlobalLock(memory)) {
      memcpy(target, wide.c_str(), bytes);
      GlobalUnlock(memory);
      // The clipboard owns the memory once it has taken it, and only then.
      if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

std::optional<std::string> AskSaveFileName(CDialog& owner, const std::string& title,
                                           const std::string& suggestedName,
                                           const std::string& filterName,
                                           const std::string& pattern) {
  // "CSV (*.csv)\0*.csv\0\0": a display name and its patterns, the list ending in an empty pair.
  std::wstring filter = win32::Widen(filterName + " (" + pattern + ")");
  filter += L'\0';
  filter += win32::Widen(pattern);
  filter += L'\0';
  filter += L'\0';
  // A name typed without an extension gets the pattern's ("*.csv": csv).
  std::wstring extension;
  if (pattern.size() > 2 && pattern.compare(0, 2, "*.") == 0 &&
      pattern.find_first_of("*?;", 2) == std::string::npos) {
    extension = win32::Widen(pattern.substr(2));
  }
  const std::wstring wideTitle = win32::Widen(title);
  // Long paths: the chooser writes at most nMaxFile characters.
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring suggested = win32::Widen(suggestedName);
  suggested.copy(file.data(), std::min(suggested.size(), file.size() - 1));

  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = TopLevel(owner);
  request.lpstrFilter = filter.c_str();
  request.nFilterIndex = 1;
  request.lpstrFile = file.data();
  request.nMaxFile = static_cast<DWORD>(file.size());
  request.lpstrTitle = wideTitle.c_str();
  request.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // OFN_NOCHANGEDIR: the chooser would otherwise move the program's working folder to the
  // folder chosen, and the panel keeps its settings file in its working folder.
  request.Flags =
      OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetSaveFileNameW(&request)) return std::nullopt;
  return win32::Narrow(file.data());
}

}  // namespace lumivex::ui
