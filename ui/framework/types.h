// Toolkit-neutral types of the dialog framework: geometry, input messages, menu entries, and the
// native handle of a window or control, which is the backend's own (a QWidget* under Qt, an HWND
// under Win32). Pages see a handle only as an opaque value to compare or pass back.
#pragma once

#include <functional>
#include <string>

#include "ui/framework/native.h"

namespace lumivex::ui {

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Keys a page tells apart; every other key is kOther.
enum class Key { kOther, kEscape, kReturn, kEnter, kTab, kLeft, kRight, kUp, kDown };

enum class MouseButton { kNone, kLeft, kRight, kMiddle };

// One input event on its way to a control, as PreTranslateMessage sees it before the control
// does. The same event is shown to each dialog from the innermost outward; controlId names the
// control of the dialog being asked that the event is aimed at (the control itself or the one
// that contains it), kStaticId when none of its addressed controls is.
struct InputMessage {
  enum class Type { kKeyDown, kKeyUp, kMouseDown, kMouseUp, kMouseDoubleClick, kWheel };
  Type type = Type::kKeyDown;
  Key key = Key::kOther;                    // kKeyDown and kKeyUp
  MouseButton button = MouseButton::kNone;  // the mouse types
  int controlId = -1;
  NativeWindow target = nullptr;  // the window or control the event is sent to
};

// One entry of a window's context menu: display text ("&" marks the access key) and action.
struct MenuEntry {
  std::string text;
  std::function<void()> action;
};

}  // namespace lumivex::ui
