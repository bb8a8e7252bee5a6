#include "ui/framework/dialog.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

// A box that comes up while a command runs stays usable: the input gate lets every dialog of
// the system's own (#32770 without a CDialog) through.
void ModalMessagePresenter::Show(CDialog& owner, const std::string& text,
                                 const std::string& title) {
  // Owned by the top-level window (the main window for a page), which the box disables while
  // it is up, as the panel's windows expect of a modal box.
  HWND ownerWindow = owner.GetSafeHwnd() ? GetAncestor(owner.GetSafeHwnd(), GA_ROOT) : nullptr;
  // MB_OK alone: one OK button and no icon (nor the sound an icon brings). The text is shown as
  // written; a message box reads no markup.
  MessageBoxW(ownerWindow, win32::Widen(text).c_str(), win32::Widen(title).c_str(), MB_OK);
}

}  // namespace lumivex::ui
