// The input gate and the pre-translate hook: every message of the program's loop passes here
// before it is dispatched, so a closed gate swallows input and each dialog sees the input of
// its controls first.
#include "ui/framework/dialog.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace {

constexpr wchar_t kUsableProp[] = L"LumivexUsableWhileBlocked";
constexpr wchar_t kPressedProp[] = L"LumivexPressedWhileBlocked";

// An accessibility press clicks 100 ms after it pressed; a mark older than this belongs to a
// press that never clicked (the mouse went down before the gate closed and up while it was).
constexpr ULONGLONG kPressMarkLifeMs = 1000;

int BlockDepth = 0;

bool IsKeyboard(UINT message) {
  return message >= WM_KEYFIRST && message <= WM_KEYLAST;
}

bool IsMouseButton(UINT message) {
  // Buttons and wheels of the client area (not mere moves), and of the frame: a closed gate
  // keeps the window where it is, too.
  return (message >= WM_LBUTTONDOWN && message <= WM_MOUSELAST) ||
         (message >= WM_NCLBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK);
}

bool IsUsableWhileBlocked(HWND window) {
  HWND root = GetAncestor(window, GA_ROOT);
  if (root == nullptr) return false;
  if (GetPropW(root, kUsableProp) != nullptr) return true;
  // A box that comes up meanwhile (the upgrade worker's outcome) must be dismissable, or the
  // command that ended under it could never hand back: any dialog that is not one of ours is a
  // message box or a common dialog of the system.
  wchar_t className[16] = {};
  GetClassNameW(root, className, 16);
  return lstrcmpW(className, L"#32770") == 0 && win32::DialogOf(root) == nullptr;
}

BOOL CALLBACK MarkPressedButton(HWND window, LPARAM now) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (lstrcmpiW(className, L"Button") == 0 &&
      (SendMessageW(window, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0) {
    SetPropW(window, kPressedProp, reinterpret_cast<HANDLE>(now));
  }
  return TRUE;
}

BOOL CALLBACK MarkPressedButtonsOf(HWND top, LPARAM now) {
  EnumChildWindows(top, &MarkPressedButton, now);
  return TRUE;
}

bool ToInputMessage(const MSG& msg, InputMessage& out) {
  out.target = msg.hwnd;
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
      out.type = (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
                     ? InputMessage::Type::kKeyDown
                     : InputMessage::Type::kKeyUp;
      switch (msg.wParam) {
        case VK_ESCAPE:
          out.key = Key::kEscape;
          break;
        case VK_RETURN:
          // The keypad's Enter is the extended Return.
          out.key = (msg.lParam & (1 << 24)) != 0 ? Key::kEnter : Key::kReturn;
          break;
        case VK_TAB:
          out.key = Key::kTab;
          break;
        case VK_LEFT:
          out.key = Key::kLeft;
          break;
        case VK_RIGHT:
          out.key = Key::kRight;
          break;
        case VK_UP:
          out.key = Key::kUp;
          break;
        case VK_DOWN:
          out.key = Key::kDown;
          break;
        default:
          out.key = Key::kOther;
          break;
      }
      return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      out.type = InputMessage::Type::kMouseDown;
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      out.type = InputMessage::Type::kMouseUp;
      break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
      out.type = InputMessage::Type::kMouseDoubleClick;
      break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      out.type = InputMessage::Type::kWheel;
      return true;
    default:
      return false;
  }
  switch (msg.message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      out.button = MouseButton::kLeft;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
      out.button = MouseButton::kRight;
      break;
    default:
      out.button = MouseButton::kMiddle;
      break;
  }
  return true;
}

}  // namespace

ScopedInputBlock::ScopedInputBlock() {
  ++BlockDepth;
}

ScopedInputBlock::~ScopedInputBlock() {
  if (--BlockDepth > 0) return;
  // A button still down was pressed while the gate was closed (the mouse and keys cannot press
  // one then): its click, due after the gate opens, belongs to the blocked time.
  const auto now = static_cast<LPARAM>(GetTickCount64());
  EnumThreadWindows(GetCurrentThreadId(), &MarkPressedButtonsOf, now);
}

bool IsInputBlocked() {
  return BlockDepth > 0;
}

bool DropControlNotification(NativeWindow control) {
  if (control != nullptr) {
    if (HANDLE mark = RemovePropW(control, kPressedProp)) {
      const auto pressedAt = static_cast<ULONGLONG>(reinterpret_cast<UINT_PTR>(mark));
      if (GetTickCount64() - pressedAt < kPressMarkLifeMs) return true;
    }
  }
  return IsInputBlocked();
}

void KeepUsableWhileBlocked(NativeWindow window) {
  if (window == nullptr) return;
  SetPropW(GetAncestor(window, GA_ROOT), kUsableProp, reinterpret_cast<HANDLE>(1));
}

namespace win32 {

bool PreTranslateInput(MSG& msg) {
  if (msg.hwnd == nullptr) return false;
  const bool input = IsKeyboard(msg.message) || IsMouseButton(msg.message);
  if (input && IsInputBlocked() && !IsUsableWhileBlocked(msg.hwnd)) return true;

  InputMessage message;
  if (ToInputMessage(msg, message)) {
    if (HWND dialog = EnclosingDialog(msg.hwnd)) {
      if (CDialog::RouteInput(DialogOf(dialog), message)) return true;
    }
  }
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  if (root != nullptr && DialogOf(root) != nullptr) return IsDialogMessageW(root, &msg) != FALSE;
  return false;
}

}  // namespace win32

}  // namespace lumivex::ui
