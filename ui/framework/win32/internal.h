// What the files of the Win32 backend share among themselves; pages never include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace lumivex::ui::win32 {

// ----- shell and loop (gui_thread, event_loop, message box, wait cursor, shell)

// Texts cross into Windows as UTF-16. A byte sequence that is not UTF-8 becomes U+FFFD, and so
// does a lone surrogate on the way back: the rest of the text is kept, never cut short.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The hidden message-only window that carries the gates' calls, CallSoon and the timers. Made
// on the first call, which must come from the GUI thread; that thread is then the GUI thread.
// Once made, any thread may read the handle.
HWND MessageWindow();

// Any thread, once the message window is made: fn runs on the GUI thread after the messages
// already waiting there. False when it could not be posted (no message window yet, or its queue
// is full); fn is then dropped.
bool PostCall(std::function<void()> fn);

// Hands msg to the pre-translate hook and, unless the hook consumed it, translates and
// dispatches it: what every loop of the GUI thread does with a message it took.
void DeliverMessage(MSG& msg);

// The module the program's resources (icon, version) and window classes belong to.
HINSTANCE Instance();

// The program's icon (the resource "lumivex") at the system's size for big (Alt+Tab, caption
// of a large-icon title bar) or small (title bar) icons, loaded once; nullptr when missing.
HICON ApplicationIcon(bool big);

// Whether a CWaitCursor lives: a window asked for its cursor (WM_SETCURSOR) shows the wait
// cursor then. The backend watches WM_SETCURSOR itself while one lives; this is for windows
// that answer it on their own.
bool IsWaitCursorShown();

// ----- dialogs and controls

// Pre-translate hook of the dialogs around msg.hwnd, then IsDialogMessageW of its top-level
// dialog; true when the message has been consumed and must not be dispatched.
bool PreTranslateInput(MSG& msg);

// The templates' 9-point font, made once.
HFONT DialogFont();

}  // namespace lumivex::ui::win32
