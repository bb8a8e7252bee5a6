// The dialog manager's in-memory template (DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items) made
// from one of the program's dialog templates, so both backends build the same controls from the
// same .dlg files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/framework/dialog_template.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui::win32 {

// What kind of window the dialog becomes.
enum class DialogFrame {
  kChild,     // a page inside another dialog
  kMain,      // the program's own window: caption, system menu, minimize box
  kOwned,     // a window of an owner (the About box): caption and system menu
  kTool,      // a tool window beside its owner (modeless)
  kLonePage,  // a page with no parent: a window without caption, as the page tests drive it
};

// The window class and styles the dialog manager gets for a control of the template.
struct ItemClass {
  // A predefined class by its ordinal (0x0080 button, 0x0081 edit, 0x0082 static, 0x0085
  // combo box), or 0 when name holds the class name.
  uint16_t atom = 0;
  std::wstring name;
  DWORD style = 0;
  DWORD exStyle = 0;
};

ItemClass ControlClass(const ControlTemplate& control);

// The window styles of the dialog itself for frame.
DWORD DialogStyle(DialogFrame frame);
DWORD DialogExStyle(DialogFrame frame);

// The typeface the templates are laid out for, at kDialogPointSize.
constexpr int kDialogPointSize = 9;
const std::wstring& DialogFaceName();

// The template bytes, 4-byte aligned as CreateDialogIndirectParamW wants them. The caption is
// the template's; the dialog is created hidden.
std::vector<DWORD> BuildDialogTemplate(const DialogTemplate& dialog, DialogFrame frame);

}  // namespace lumivex::ui::win32
