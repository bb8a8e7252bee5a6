// The backend of the dialog framework, chosen when the program is built: Qt (Linux) unless
// LUMIVEX_UI_WIN32 is defined (Windows, the Win32 dialog manager). Each backend's native.h
// defines NativeWindow (its handle of a window or control) and DialogBase (what a CDialog is
// built on: a QWidget, or the owner of an HWND).
#pragma once

#if defined(LUMIVEX_UI_WIN32)
#include "ui/framework/win32/native.h"
#else
#include "ui/framework/qt/native.h"
#endif
