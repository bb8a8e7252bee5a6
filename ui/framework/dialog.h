// The dialog: a window built from its template, whose controls are reached by id, with the
// initialisation, data exchange, key filtering and message boxes that pages and the main window
// are written against. The API is the same for every backend (native.h); nothing here names a
// toolkit type. Everything runs on the GUI thread; a worker reaches a dialog only through a
// GuiCallGate (gui_thread.h).
//
// Life of a dialog: construct (no window yet), then Create(parent) for a child page,
// CreateAsWindow/CreateModeless for a window that does not wait, or DoModal() for one that does.
// Each builds the controls from the template and runs OnInitDialog once; the owner may run
// OnInitDialog again at every showing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "ui/framework/controls.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/types.h"

namespace lumivex::ui {

class CDialog;

// The standard validation messages of the data exchange.
constexpr char kParseUIntMessage[] = "Please enter a positive integer.";
// "%1" and "%2" stand for the bounds.
constexpr char kRangeUIntMessage[] = "Please enter an integer between %1 and %2.";
// "%1" stands for the limit.
constexpr char kMaxCharsMessage[] = "Please enter no more than %1 characters.";

// One run of DoDataExchange. In the saving direction (controls to fields) the first failure
// shows its message through the dialog's presenter, puts the focus back on the control, and
// turns every later DDX/DDV call of the run into a no-op; UpdateData then returns false.
class CDataExchange {
 public:
  CDataExchange(CDialog& dialog, bool saveAndValidate)
      : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate) {}
  CDialog& Dialog() const { return m_dialog; }
  bool Failed() const { return m_failed; }
  // Reports a failed validation of control id with message (a display text).
  void Fail(int id, const std::string& message);
  // The control of the last DDX call, to which DDV calls apply.
  int LastControl() const { return m_idLastControl; }
  void PrepareControl(int id) { m_idLastControl = id; }

 private:
  CDialog& m_dialog;

 public:
  const bool m_bSaveAndValidate;

 private:
  bool m_failed = false;
  int m_idLastControl = 0;
};

// Attaches a control object to control id and gives the control the object's class name.
void DDX_Control(CDataExchange* pDX, int id, CWndHandle& control);
// The text of control id.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// The text of control id as an unsigned decimal number. Saving accepts digits with blanks
// around them; an empty text, a sign or any other character fails with kParseUIntMessage;
// a number beyond 32 bits reads as 4294967295, so a following DDV_MinMaxUInt names the range.
void DDX_Text(CDataExchange* pDX, int id, uint32_t& value);
// Saving only: value outside minimum..maximum fails with kRangeUIntMessage.
void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minimum, uint32_t maximum);
// Saving: a value longer than maxBytes (UTF-8 bytes) fails with kMaxCharsMessage. Writing:
// limits typing in the last control's edit box to maxBytes, without cutting a longer text.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxBytes);
// The tick state of a check box or radio button: 0, 1 (2 for indeterminate).
void DDX_Check(CDataExchange* pDX, int id, int& value);

// True for a key-down of Escape or Return (either Enter key): the keys a page or the main
// window swallows so that it never closes itself or presses a button.
bool IsEscapeOrReturnKeyDown(const InputMessage& message);

// A control built from the template, in template (child) order.
struct ControlSlot {
  const ControlTemplate* tmpl = nullptr;
  NativeWindow widget = nullptr;
  // Class name given by DDX_Control ("CEdit", ...); nullptr while unbound.
  const char* boundClass = nullptr;
};

class CDialog : public DialogBase, public connection::ConnectionPage {
 public:
  // owner: the window a window-dialog belongs to (its About box's owner, say); a child page
  // gets its parent at Create.
  explicit CDialog(int templateId, CDialog* owner = nullptr);
  ~CDialog() override;

  // ----- creation and life
  // Builds a child dialog of parent from the template, hidden, sized to the template, and runs
  // OnInitDialog. With hostId, the child sits on parent's control hostId (the tab control)
  // and its position is given in that control's coordinates. False when the template is
  // missing.
  bool Create(CDialog& parent, int hostId = kStaticId);
  // Builds the dialog as a page with no parent: a hidden top-level window without caption, as
  // the page tests drive a page on its own. OnInitDialog runs.
  bool Create(std::nullptr_t);
  // Builds the dialog as a window (owned by owner, when given), runs OnInitDialog, and shows
  // it without waiting. False when the template is missing.
  bool CreateAsWindow(CDialog* owner = nullptr);
  // As CreateAsWindow, but the window leaves its owner usable: a tool window beside it.
  bool CreateModeless(CDialog* owner);
  // As CreateAsWindow (unless already created), then waits until EndDialog; returns EndDialog's
  // result (-1 when the template is missing). The owner takes no input meanwhile.
  int DoModal();
  // Ends a modal run with result; a child dialog or modeless window is hidden.
  void EndDialog(int result);
  bool IsCreated() const { return m_created; }
  CDialog* Owner() const { return m_owner; }
  // The dialog a child page was created on; nullptr for a window.
  CDialog* Parent() const { return m_parent; }

  // The framework's initialisation writes the fields into the controls (UpdateData(false)).
  // Overrides call it first. Returns true to let the framework place the focus.
  virtual bool OnInitDialog();
  // Binds controls to fields and control objects; the default binds nothing.
  virtual void DoDataExchange(CDataExchange* pDX);
  // Runs for every input event (keys, mouse buttons, wheel) sent to this dialog or one of its
  // descendants in the same window, innermost dialog first, before the target handles it;
  // true swallows the event. The default swallows nothing.
  virtual bool PreTranslateMessage(const InputMessage& message);
  // Escape (when not swallowed) and the button with id 2 run OnCancel; Return and the button
  // with id 1 run OnOK. Both end the dialog by default. A close request (the window's close
  // button, Alt+F4) runs OnClose, which by default runs OnCancel.
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnClose();
  // The window's client area has a new size (a resizable window; see SetResizable).
  virtual void OnSize(Size client);
  // The window has been shown or hidden (either way: by the program or the window system).
  virtual void OnShowWindow(bool shown);
  // The entries of the window's context menu (right click, or the menu key), in menu order;
  // the default has none, and then no menu opens. Asked at every opening.
  virtual std::vector<MenuEntry> ContextMenuEntries();

  // Moves data between controls and fields: true saves the controls into the fields and
  // validates them, false writes the fields into the controls. False when validation failed
  // (the message has been shown and the focus is on the offending control).
  bool UpdateData(bool saveAndValidate = true);

  // ----- the window
  // The dialog's own window (nullptr before it is built under Win32).
  NativeWindow GetSafeWnd() const;
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  void ShowWindow(bool show = true);
  bool IsWindowVisible() const;
  // Raises the window above its siblings and gives it the focus.
  void BringToFront();
  // Asks the window to close, as its close button does (runs OnClose).
  void Close();
  // A child dialog's place in its parent (or host control), in pixels.
  void MoveWindow(const Rect& rect);
  Rect WindowRect() const;
  // Sizes a window around a client area of client pixels, keeping its top-left corner on the
  // screen; the user cannot resize it. Under Qt client is the size the window gets (the frame
  // is the window manager's); under Win32 the outer size is client plus the frame the main
  // window's layout assumes: 8 wider and 35 higher.
  void SetFixedClientSize(Size client);
  Size ClientSize() const;
  // Lets the user resize the window, down to minimum; OnSize follows every change.
  void SetResizable(Size minimum);

  // ----- the template and its controls
  int TemplateId() const { return m_templateId; }
  // nullptr when the template is missing.
  const DialogTemplate* Template() const { return m_template; }
  // The template's size in pixels.
  Size TemplatePixelSize() const;
  const std::vector<ControlSlot>& Controls() const { return m_controls; }
  ControlSlot* FindSlot(int id);
  const ControlSlot* FindSlot(int id) const;
  // The control with id, nullptr when there is none.
  NativeWindow GetDlgItem(int id) const;
  // The id of one of this dialog's controls, or of the control containing it; kStaticId for
  // anything else.
  int ControlIdOf(NativeWindow control) const;

  // Captions: the button, label or group box title; an edit box's text; a drop-down list's
  // selected entry (setting selects the entry with exactly that text, if any); a slider's,
  // plot's or tab control's caption, which nothing shows.
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  // The same for any control, with an id or without (labels and frames).
  static void SetControlText(NativeWindow control, const std::string& text);
  static std::string GetControlText(NativeWindow control);

  void ShowItem(int id, bool show = true);
  void HideItem(int id) { ShowItem(id, false); }
  // Whether the control is not hidden (it shows when the dialog does).
  bool IsItemShown(int id) const;
  void EnableItem(int id, bool enable = true);
  bool IsItemEnabled(int id) const;
  // A control's place in the dialog, in pixels.
  void MoveItem(int id, const Rect& rect);
  Rect ItemRect(int id) const;
  // Puts the keyboard focus on the control.
  void FocusItem(int id);

  // Check boxes and radio buttons: 0 unticked, 1 ticked, 2 indeterminate.
  unsigned IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, unsigned check);
  // Ticks id and unticks every other radio button with an id from first to last (id outside
  // the range unticks them all).
  void CheckRadioButton(int first, int last, int id);
  // The ticked radio button with an id from first to last; 0 for none.
  int GetCheckedRadioButton(int first, int last) const;

  // Drop-down lists by id (the same as CComboBox).
  int ComboAddString(int id, const std::string& text);
  int ComboGetCurSel(int id) const;
  int ComboSetCurSel(int id, int index);
  int ComboGetCount(int id) const;
  std::string ComboGetText(int id, int index) const;
  void ComboResetContent(int id);

  // Sliders by id (the same as CSliderCtrl).
  void SliderSetRange(int id, int minimum, int maximum, bool redraw = false);
  void SliderSetTicFreq(int id, int frequency);
  int SliderGetPos(int id) const;
  void SliderSetPos(int id, int position);

  // ----- handlers, one per control and event (a second registration replaces the first)
  // A click on a push button, check box or radio button (after a check box or radio button
  // has changed its state).
  void OnClicked(int id, std::function<void()> handler);
  // Every change of an edit box's text, by the user or by the program.
  void OnEditChange(int id, std::function<void()> handler);
  // The slider's custom-draw notification: runs whenever its value changes (at once) and
  // after it has painted itself (queued, once per burst of paints).
  void OnSliderCustomDraw(int id, std::function<void()> handler);
  // A left mouse button pressed on the control, before the control handles the press.
  void OnLButtonDown(int id, std::function<void()> handler);
  // The user chose another entry of a drop-down list (never for a choice made by the program).
  void OnSelChange(int id, std::function<void()> handler);
  // The user chose another tab of a tab control (never for a selection made by the program).
  void OnTabSelChange(int id, std::function<void()> handler);

  // ----- messages
  // A box owned by this dialog through the current presenter; text and title are display
  // texts. Returns kIdOk once dismissed.
  int MessageBox(const std::string& text, const std::string& title);

  // connection::ConnectionPage: boxes of the connection action and the connect button caption.
  void ShowMessage(const std::string& text, const std::string& title) override;
  void SetConnectCaption(const std::string& caption) override;

  // ----- for the backends: they report what the window system did through these.
  // Runs the left-button handlers and PreTranslateMessage of each dialog from the one that owns
  // message.target outward within one window; true when one swallowed the event.
  static bool RouteInput(CDialog* innermost, InputMessage message);
  // A click, tick change, edit change, selection change or custom draw of control id.
  void NotifyClicked(int id);
  void NotifyEditChanged(int id);
  void NotifySelChange(int id);
  void NotifyTabSelChange(int id);
  void NotifyCustomDraw(int id);
  // The control under a default-button press (Return), or 0.
  int DefaultButtonId() const;

 private:
  // Backend: builds the window and controls from m_template (hidden); false on failure.
  bool BuildFromTemplate(CDialog* parent, int hostId, bool asWindow);

  int m_templateId;
  CDialog* m_owner;
  CDialog* m_parent = nullptr;
  const DialogTemplate* m_template = nullptr;
  bool m_created = false;
  bool m_modeless = false;
  std::vector<ControlSlot> m_controls;
  std::map<int, std::size_t> m_slotById;
  std::map<int, std::function<void()>> m_clicked;
  std::map<int, std::function<void()>> m_editChanged;
  std::map<int, std::function<void()>> m_customDraw;
  std::map<int, std::function<void()>> m_lButtonDown;
  std::map<int, std::function<void()>> m_selChange;
  std::map<int, std::function<void()>> m_tabSelChange;

  // The backend's own state of this dialog (radio groups, the modal loop, ...).
  struct Backend;
  std::unique_ptr<Backend> m_backend;
  friend struct Backend;
};

}  // namespace lumivex::ui
