#include "ui/framework/dialog.h"

#include <algorithm>
#include <limits>

#include "ui/framework/dialog_units.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"

namespace lumivex::ui {

namespace {

// The title of the framework's own boxes (the validation messages): the program's name.
constexpr char kFrameworkTitle[] = "Lumivex";

std::string ReplaceArg(std::string text, const char* marker, const std::string& value) {
  const std::size_t at = text.find(marker);
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

// Digits with blanks (spaces, tabs) around them; false for anything else. A number beyond 32
// bits gives the largest value, so the range check that follows reports it.
bool ParseUnsigned(const std::string& text, uint32_t& value) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  std::size_t end = text.find_last_not_of(" \t") + 1;
  unsigned long long v = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > std::numeric_limits<uint32_t>::max()) v = std::numeric_limits<uint32_t>::max() + 1ULL;
  }
  value = v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                   : static_cast<uint32_t>(v);
  return true;
}

bool IsTickButton(const ControlSlot* slot) {
  return slot != nullptr && (slot->tmpl->kind == ControlKind::kCheckBox ||
                             slot->tmpl->kind == ControlKind::kRadioButton);
}

}  // namespace

// ----- data exchange

void CDataExchange::Fail(int id, const std::string& message) {
  if (m_failed) return;
  m_failed = true;
  if (!m_bSaveAndValidate) return;
  m_dialog.MessageBox(message, kFrameworkTitle);
  m_dialog.FocusItem(id);
  CEdit edit;
  if (edit.Attach(m_dialog.GetDlgItem(id))) edit.SelectAll();
}

void DDX_Control(CDataExchange* pDX, int id, CWndHandle& control) {
  if (pDX->Failed()) return;
  pDX->PrepareControl(id);
  ControlSlot* slot = pDX->Dialog().FindSlot(id);
  if (!slot || control.IsAttached()) return;
  if (control.Attach(slot->widget)) slot->boundClass = control.ClassName();
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  if (pDX->Failed()) return;
  pDX->PrepareControl(id);
  if (pDX->m_bSaveAndValidate) {
    value = pDX->Dialog().GetDlgItemText(id);
  } else if (pDX->Dialog().GetDlgItemText(id) != value) {
    // Writing the same text again would report a change of the box that did not happen.
    pDX->Dialog().SetDlgItemText(id, value);
  }
}

void DDX_Text(CDataExchange* pDX, int id, uint32_t& value) {
  if (pDX->Failed()) return;
  pDX->PrepareControl(id);
  if (pDX->m_bSaveAndValidate) {
    uint32_t parsed = 0;
    if (!ParseUnsigned(pDX->Dialog().GetDlgItemText(id), parsed)) {
      pDX->Fail(id, kParseUIntMessage);
      return;
    }
    value = parsed;
  } else {
    const std::string text = std::to_string(value);
    if (pDX->Dialog().GetDlgItemText(id) != text) pDX->Dialog().SetDlgItemText(id, text);
  }
}

void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t minimum, uint32_t maximum) {
  if (pDX->Failed() || !pDX->m_bSaveAndValidate) return;
  if (value < minimum || value > maximum) {
    std::string message = ReplaceArg(kRangeUIntMessage, "%1", std::to_string(minimum));
    pDX->Fail(pDX->LastControl(), ReplaceArg(message, "%2", std::to_string(maximum)));
  }
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxBytes) {
  if (pDX->Failed()) return;
  if (pDX->m_bSaveAndValidate) {
    if (value.size() > static_cast<std::size_t>(std::max(maxBytes, 0))) {
      pDX->Fail(pDX->LastControl(), ReplaceArg(kMaxCharsMessage, "%1", std::to_string(maxBytes)));
    }
    return;
  }
  CEdit edit;
  if (edit.Attach(pDX->Dialog().GetDlgItem(pDX->LastControl()))) edit.SetLimitText(maxBytes);
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  if (pDX->Failed()) return;
  pDX->PrepareControl(id);
  if (pDX->m_bSaveAndValidate) {
    value = static_cast<int>(pDX->Dialog().IsDlgButtonChecked(id));
  } else {
    pDX->Dialog().CheckDlgButton(id, static_cast<unsigned>(std::clamp(value, 0, 2)));
  }
}

bool IsEscapeOrReturnKeyDown(const InputMessage& message) {
  if (message.type != InputMessage::Type::kKeyDown) return false;
  return message.key == Key::kEscape || message.key == Key::kReturn || message.key == Key::kEnter;
}

// ----- CDialog: creation

// Creating an existing dialog again runs its initialisation again, as a new showing does.

bool CDialog::Create(CDialog& parent, int hostId) {
  if (!m_created) {
    m_template = FindDialogTemplate(m_templateId);
    if (!m_template) return false;
    m_parent = &parent;
    if (!BuildFromTemplate(&parent, hostId, false)) return false;
  }
  OnInitDialog();
  return true;
}

bool CDialog::Create(std::nullptr_t) {
  if (!m_created) {
    m_template = FindDialogTemplate(m_templateId);
    if (!m_template) return false;
    m_parent = nullptr;
    if (!BuildFromTemplate(nullptr, kStaticId, false)) return false;
  }
  OnInitDialog();
  return true;
}

bool CDialog::CreateAsWindow(CDialog* owner) {
  if (!m_created) {
    m_template = FindDialogTemplate(m_templateId);
    if (!m_template) return false;
    if (owner != nullptr) m_owner = owner;
    if (!BuildFromTemplate(m_owner, kStaticId, true)) return false;
  }
  OnInitDialog();
  ShowWindow(true);
  BringToFront();
  return true;
}

bool CDialog::CreateModeless(CDialog* owner) {
  m_modeless = true;
  return CreateAsWindow(owner);
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

bool CDialog::PreTranslateMessage(const InputMessage& /*message*/) {
  return false;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(kIdOk);
}

void CDialog::OnCancel() {
  EndDialog(kIdCancel);
}

void CDialog::OnClose() {
  OnCancel();
}

void CDialog::OnSize(Size /*client*/) {}

void CDialog::OnShowWindow(bool /*shown*/) {}

std::vector<MenuEntry> CDialog::ContextMenuEntries() {
  return {};
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(*this, saveAndValidate);
  DoDataExchange(&dx);
  return !dx.Failed();
}

// ----- the template and its controls

Size CDialog::TemplatePixelSize() const {
  if (!m_template) return Size{};
  return MapDialogSize(m_template->width, m_template->height, DialogUnits());
}

ControlSlot* CDialog::FindSlot(int id) {
  auto it = m_slotById.find(id);
  return it == m_slotById.end() ? nullptr : &m_controls[it->second];
}

const ControlSlot* CDialog::FindSlot(int id) const {
  auto it = m_slotById.find(id);
  return it == m_slotById.end() ? nullptr : &m_controls[it->second];
}

NativeWindow CDialog::GetDlgItem(int id) const {
  const ControlSlot* slot = FindSlot(id);
  return slot ? slot->widget : nullptr;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  if (NativeWindow control = GetDlgItem(id)) SetControlText(control, text);
}

std::string CDialog::GetDlgItemText(int id) const {
  NativeWindow control = GetDlgItem(id);
  return control ? GetControlText(control) : std::string();
}

void CDialog::CheckRadioButton(int first, int last, int id) {
  for (const ControlSlot& slot : m_controls) {
    const int sid = slot.tmpl->id;
    if (sid == kStaticId || sid < first || sid > last || sid == id) continue;
    CheckDlgButton(sid, 0);
  }
  CheckDlgButton(id, 1);
}

int CDialog::GetCheckedRadioButton(int first, int last) const {
  for (int id = first; id <= last; ++id) {
    if (IsTickButton(FindSlot(id)) && IsDlgButtonChecked(id) == 1) return id;
  }
  return 0;
}

int CDialog::ComboAddString(int id, const std::string& text) {
  CComboBox c;
  return c.Attach(GetDlgItem(id)) ? c.AddString(text) : -1;
}

int CDialog::ComboGetCurSel(int id) const {
  CComboBox c;
  return c.Attach(GetDlgItem(id)) ? c.GetCurSel() : -1;
}

int CDialog::ComboSetCurSel(int id, int index) {
  CComboBox c;
  return c.Attach(GetDlgItem(id)) ? c.SetCurSel(index) : -1;
}

int CDialog::ComboGetCount(int id) const {
  CComboBox c;
  return c.Attach(GetDlgItem(id)) ? c.GetCount() : 0;
}

std::string CDialog::ComboGetText(int id, int index) const {
  CComboBox c;
  return c.Attach(GetDlgItem(id)) ? c.GetLBText(index) : std::string();
}

void CDialog::ComboResetContent(int id) {
  CComboBox c;
  if (c.Attach(GetDlgItem(id))) c.ResetContent();
}

void CDialog::SliderSetRange(int id, int minimum, int maximum, bool redraw) {
  CSliderCtrl s;
  if (s.Attach(GetDlgItem(id))) s.SetRange(minimum, maximum, redraw);
}

void CDialog::SliderSetTicFreq(int id, int frequency) {
  CSliderCtrl s;
  if (s.Attach(GetDlgItem(id))) s.SetTicFreq(frequency);
}

int CDialog::SliderGetPos(int id) const {
  CSliderCtrl s;
  return s.Attach(GetDlgItem(id)) ? s.GetPos() : 0;
}

void CDialog::SliderSetPos(int id, int position) {
  CSliderCtrl s;
  if (s.Attach(GetDlgItem(id))) s.SetPos(position);
}

// ----- handlers

void CDialog::OnClicked(int id, std::function<void()> handler) {
  m_clicked[id] = std::move(handler);
}

void CDialog::OnEditChange(int id, std::function<void()> handler) {
  m_editChanged[id] = std::move(handler);
}

void CDialog::OnSliderCustomDraw(int id, std::function<void()> handler) {
  m_customDraw[id] = std::move(handler);
}

void CDialog::OnLButtonDown(int id, std::function<void()> handler) {
  m_lButtonDown[id] = std::move(handler);
}

void CDialog::OnSelChange(int id, std::function<void()> handler) {
  m_selChange[id] = std::move(handler);
}

void CDialog::OnTabSelChange(int id, std::function<void()> handler) {
  m_tabSelChange[id] = std::move(handler);
}

namespace {
void RunHandler(const std::map<int, std::function<void()>>& handlers, int id) {
  auto it = handlers.find(id);
  if (it != handlers.end() && it->second) it->second();
}
}  // namespace

void CDialog::NotifyClicked(int id) {
  // While a command runs a press reaches no handler, now or later.
  if (DropControlNotification(GetDlgItem(id))) return;
  auto it = m_clicked.find(id);
  if (it != m_clicked.end() && it->second) {
    it->second();
  } else if (id == kIdOk) {
    OnOK();
  } else if (id == kIdCancel) {
    OnCancel();
  }
}

void CDialog::NotifyEditChanged(int id) {
  RunHandler(m_editChanged, id);
}

void CDialog::NotifySelChange(int id) {
  RunHandler(m_selChange, id);
}

void CDialog::NotifyTabSelChange(int id) {
  RunHandler(m_tabSelChange, id);
}

void CDialog::NotifyCustomDraw(int id) {
  RunHandler(m_customDraw, id);
}

int CDialog::DefaultButtonId() const {
  for (const ControlSlot& slot : m_controls) {
    if (slot.tmpl->kind == ControlKind::kPushButton && slot.tmpl->Has(style::kDefault) &&
        IsItemEnabled(slot.tmpl->id)) {
      return slot.tmpl->id;
    }
  }
  return 0;
}

// ----- messages

int CDialog::MessageBox(const std::string& text, const std::string& title) {
  CurrentMessagePresenter().Show(*this, text, title);
  return kIdOk;
}

void CDialog::ShowMessage(const std::string& text, const std::string& title) {
  MessageBox(text, title);
}

void CDialog::SetConnectCaption(const std::string& caption) {
  SetDlgItemText(connection::kConnectButtonId, caption);
}

bool CDialog::RouteInput(CDialog* innermost, InputMessage message) {
  const bool leftDown =
      message.type == InputMessage::Type::kMouseDown && message.button == MouseButton::kLeft;
  for (CDialog* dialog = innermost; dialog != nullptr; dialog = dialog->Parent()) {
    message.controlId = dialog->ControlIdOf(message.target);
    if (leftDown) {
      for (auto& [id, handler] : dialog->m_lButtonDown) {
        if (handler && dialog->GetDlgItem(id) == message.target) handler();
      }
    }
    if (dialog->PreTranslateMessage(message)) return true;
  }
  return false;
}

}  // namespace lumivex::ui
