// Win32 backend: a dialog owns an HWND made by the dialog manager from an in-memory template,
// and each control is a child HWND. The handle is declared here as windows.h declares it
// (STRICT), so that pages never include windows.h.
#pragma once

struct HWND__;

namespace lumivex::ui {

using NativeWindow = HWND__*;

// What a CDialog is built on: the handle of its window, null until created and after it is
// destroyed.
class DialogBase {
 public:
  DialogBase() = default;
  virtual ~DialogBase() = default;
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;
  HWND__* GetSafeHwnd() const { return m_hWnd; }

 protected:
  HWND__* m_hWnd = nullptr;
};

}  // namespace lumivex::ui
