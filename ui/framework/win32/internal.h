// What the files of the Win32 backend share among themselves; pages never include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

// windows.h renames these to their ...W forms, which would rename the framework's members of the
// same names in the files that include it, and only there. The backend calls the W forms.
#undef GetDlgItemText
#undef GetWindowText
#undef MessageBox
#undef SetDlgItemText
#undef SetWindowText

#include <functional>
#include <string>
#include <string_view>

namespace lumivex::ui {
class CDialog;
}

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

// The base units Windows gives a dialog with the 9-point font (GdiGetCharDimensions' way: the
// average width of the 52 Latin letters, and the font's height).
SIZE MeasureBaseUnits(HFONT font);

// The fixed-width font of text views, at the dialog font's size, made once.
HFONT FixedFont();

// The dialog whose window this is (a window made by CDialog), nullptr for any other window.
CDialog* DialogOf(HWND window);

// The innermost CDialog window that window is, or lies inside, within its top-level window.
HWND EnclosingDialog(HWND window);

// Edit boxes keep their typing limit in UTF-8 bytes here: every change the user makes passes
// through the edit's subclass, which undoes one that would leave the text longer than the
// limit and longer than before. The program's own texts never pass, so they are never cut.
void InstallEditLimit(HWND edit);
void SetEditByteLimit(HWND edit, int maxBytes);
int EditByteLimit(HWND edit);
// True while the edit's subclass is carrying out a user change: its change notification waits
// until the change has been kept (and is dropped when it is undone).
bool EditChangeDeferred(HWND edit);

// A slider's position may have moved (the program set it, or its range clamped it): the
// dialog's custom-draw handler runs at once when it did.
void SliderPositionMayHaveChanged(HWND slider);
// Records a slider's position as the one last reported (returns it in its stored form).
INT_PTR NoteSliderPosition(HWND slider);
// Records a drop-down list's selection as the one the page knows: only a choice of the user's
// that differs from it is reported.
void NoteKnownSelection(HWND combo);

// The window class of plot controls and text views' line store, registered on first use.
const wchar_t* PlotClassName();
void InstallTextView(HWND edit);

// The state of a status line (its whole text lives in the window text).
void InstallStatusLine(HWND label);

}  // namespace lumivex::ui::win32
