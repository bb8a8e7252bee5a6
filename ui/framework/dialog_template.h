// Dialog templates: the size of a dialog and its controls, in dialog units, kept as data in
// resources/templates/*.dlg and compiled into the program.
//
// Text format, one statement per line; "#" starts a comment line:
//   DIALOG <template id> <width> <height> "<caption>"
//   <KIND> <control id> "<caption>" <x> <y> <width> <height> [STYLE ...]
// KIND is one of PUSHBUTTON, CHECKBOX, RADIOBUTTON, GROUPBOX, LTEXT, EDITTEXT, COMBOBOX, SLIDER,
// TABCONTROL, ICON, PLOT, TEXTVIEW (many read-only lines in a fixed-width font). A control id
// of -1 marks a control nobody addresses (a label, a frame).
// STYLE words: HIDDEN, DISABLED, GROUP (starts a radio group), NUMBER (digits only), CENTER,
// RIGHT, LEFTTEXT (check box text left of the box), NOTICKS, DEFAULT (default push button),
// PUSHLIKE (a check box drawn as a push button that stays down while ticked).
// Captions are UTF-8; inside quotes, \" is a quote and \\ a backslash. An ICON's caption names
// an image of the program's resources (Qt: ":/lumivex/<caption>.png"; Win32: the icon resource
// of that name). The template texts are compiled into the program from resources/templates/,
// the same files for both backends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivex::ui {

enum class ControlKind {
  kPushButton,
  kCheckBox,
  kRadioButton,
  kGroupBox,
  kLabel,
  kEdit,
  kComboBox,
  kSlider,
  kTabControl,
  kIcon,
  kPlot,
  kTextView,
};

namespace style {
constexpr uint32_t kHidden = 1u << 0;
constexpr uint32_t kDisabled = 1u << 1;
constexpr uint32_t kGroup = 1u << 2;
constexpr uint32_t kNumber = 1u << 3;
constexpr uint32_t kCentred = 1u << 4;
constexpr uint32_t kRight = 1u << 5;
constexpr uint32_t kTextLeft = 1u << 6;
constexpr uint32_t kNoTicks = 1u << 7;
constexpr uint32_t kDefault = 1u << 8;
constexpr uint32_t kPushLike = 1u << 9;
}  // namespace style

// The id of controls that no code addresses.
constexpr int kStaticId = -1;

// Command ids of the standard buttons.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Template ids of the program's dialogs.
namespace templ {
constexpr int kAbout = 100;
constexpr int kMain = 102;
constexpr int kLedPage = 129;
constexpr int kInputSourcePage = 130;
constexpr int kTemperaturePage = 131;
constexpr int kSystemPage = 133;
constexpr int kFlipPage = 135;
constexpr int kTemperatureHistory = 140;
constexpr int kTrafficWindow = 141;
}  // namespace templ

struct ControlTemplate {
  ControlKind kind = ControlKind::kLabel;
  int id = kStaticId;
  std::string caption;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  uint32_t styles = 0;

  bool Has(uint32_t s) const { return (styles & s) != 0; }
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int width = 0;
  int height = 0;
  std::vector<ControlTemplate> controls;  // in child order

  const ControlTemplate* Find(int controlId) const;
};

// Parses one template text. On failure returns nothing and, when error is given, sets it to
// "line N: reason".
std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text,
                                                  std::string* error = nullptr);

// The compiled-in template with this id; nullptr when there is none (or it does not parse,
// which the template tests rule out). GUI thread only; the result lives until exit.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace lumivex::ui
