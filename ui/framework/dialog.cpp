#include "ui/framework/dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <limits>

#include "ui/framework/dialog_units.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/plot_control.h"

namespace lumivex::ui {

namespace {

// The title of the framework's own boxes (the validation messages): the program's name.
constexpr char kFrameworkTitle[] = "Lumivex";

bool IsRoutedInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
      return true;
    default:
      return false;
  }
}

// Every input event of the program passes here first, so a dialog sees the events of all its
// descendants, including controls that are created after it.
class InputRouter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsRoutedInput(event->type()) || !watched->isWidgetType()) return false;
    return CDialog::RouteInputEvent(watched, event);
  }
};

// Nesting depth of tick changes made by the program (CheckDlgButton, DDX_Check): they notify
// no page. GUI thread only.
int ProgramTickChanges = 0;

// Marks a button whose click is under way: Qt toggles it between its pressed and released
// signals, and the click that follows notifies the page.
constexpr char kClickUnderWay[] = "lumivexClickUnderWay";

// A click notifies the page; so does any other change of the tick that the program did not
// make (an assistive technology's toggle, say), as a click would have. A radio button that
// loses its tick reports nothing: the one that gains it does.
void ConnectTickButton(QAbstractButton* button, QObject* context, std::function<void()> notify) {
  QObject::connect(button, &QAbstractButton::pressed, context,
                   [button] { button->setProperty(kClickUnderWay, true); });
  QObject::connect(button, &QAbstractButton::released, context,
                   [button] { button->setProperty(kClickUnderWay, false); });
  QObject::connect(button, &QAbstractButton::clicked, context, notify);
  QObject::connect(button, &QAbstractButton::toggled, context, [button, notify](bool checked) {
    if (ProgramTickChanges > 0 || button->property(kClickUnderWay).toBool()) return;
    if (!checked && qobject_cast<QRadioButton*>(button)) return;
    notify();
  });
}

// Names edit boxes, sliders and drop-down lists after the label before them in the template,
// so assistive technologies read "Drive current, slider, 100" rather than "slider".
constexpr char kNameLabel[] = "lumivexNameLabel";

bool TakesItsNameFromALabel(ControlKind kind) {
  return kind == ControlKind::kEdit || kind == ControlKind::kSlider ||
         kind == ControlKind::kComboBox;
}

void InstallInputRouter() {
  static QObject* router = nullptr;
  if (router || !qApp) return;
  router = new InputRouter(qApp);
  qApp->installEventFilter(router);
}

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

}  // namespace

// ----- data exchange

void CDataExchange::Fail(int id, const std::string& message) {
  if (m_failed) return;
  m_failed = true;
  if (!m_bSaveAndValidate) return;
  m_dialog.MessageBox(message, kFrameworkTitle);
  if (QWidget* w = m_dialog.GetDlgItem(id)) {
    w->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
  }
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

bool IsEscapeOrReturnKeyDown(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

// ----- CDialog

CDialog::CDialog(int templateId, QWidget* parent) : QWidget(parent), m_templateId(templateId) {
  InstallInputRouter();
  InstallControlAccessibility();
  QWidget::hide();
}

CDialog::~CDialog() {
  if (m_modalLoop) m_modalLoop->quit();
}

bool CDialog::BuildFromTemplate(QWidget* parent, bool asWindow) {
  if (m_created) return true;
  m_template = FindDialogTemplate(m_templateId);
  if (!m_template) return false;

  if (asWindow) {
    Qt::WindowFlags flags = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    setWindowFlags(parent ? (Qt::Dialog | flags)
                          : (Qt::Window | Qt::WindowMinimizeButtonHint | flags));
    setParent(parent, windowFlags());
    if (parent && !m_modeless) setWindowModality(Qt::WindowModal);
    setWindowTitle(QString::fromStdString(m_template->caption));
  } else {
    setParent(parent);
  }
  setFont(DialogFont());
  QWidget::hide();
  const DialogBaseUnits base = DialogUnits();
  resize(TemplatePixelSize());

  m_controls.reserve(m_template->controls.size());
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& t : m_template->controls) {
    if (t.Has(style::kGroup)) radioGroup = nullptr;
    QWidget* w = MakeControl(t);
    QRect rect = MapDialogRect(QRect(t.x, t.y, t.width, t.height), base);
    if (t.kind == ControlKind::kComboBox) {
      // The template's height includes the dropped list; the closed box is one line high.
      rect.setHeight(w->sizeHint().height());
    }
    w->setGeometry(rect);
    w->setVisible(!t.Has(style::kHidden));
    w->setEnabled(!t.Has(style::kDisabled));
    if (t.kind == ControlKind::kRadioButton) {
      if (!radioGroup) {
        radioGroup = new QButtonGroup(this);
        m_radioGroups.push_back(radioGroup);
      }
      radioGroup->addButton(static_cast<QRadioButton*>(w));
    }
    if (t.id != kStaticId) m_slotById[t.id] = m_controls.size();
    m_controls.push_back(ControlSlot{&t, w, nullptr});
  }
  QLabel* nameLabel = nullptr;
  for (const ControlSlot& slot : m_controls) {
    if (slot.tmpl->kind == ControlKind::kLabel) {
      nameLabel = static_cast<QLabel*>(slot.widget);
    } else if (nameLabel && TakesItsNameFromALabel(slot.tmpl->kind)) {
      slot.widget->setProperty(kNameLabel, QVariant::fromValue(static_cast<QObject*>(nameLabel)));
      slot.widget->setAccessibleName(nameLabel->text());
    }
  }
  // Frames lie under the controls they surround.
  for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
    if (it->tmpl->kind == ControlKind::kGroupBox) it->widget->lower();
  }
  m_created = true;
  return true;
}

QWidget* CDialog::MakeControl(const ControlTemplate& t) {
  const QString caption = QString::fromStdString(t.caption);
  const int id = t.id;
  QWidget* w = nullptr;
  switch (t.kind) {
    case ControlKind::kPushButton: {
      auto* b = new QPushButton(caption, this);
      b->setAutoDefault(false);
      connect(b, &QPushButton::clicked, this, [this, id] { OnControlClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kCheckBox: {
      QCheckBox* b = t.Has(style::kTextLeft) ? new LeftTextCheckBox(caption, this)
                                             : new QCheckBox(caption, this);
      ConnectTickButton(b, this, [this, id] { OnControlClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kRadioButton: {
      // Left auto-exclusive, which makes assistive technologies call it a radio button; its
      // button group, not its parent, decides which buttons exclude each other.
      QRadioButton* b = t.Has(style::kTextLeft) ? new LeftTextRadioButton(caption, this)
                                                : new QRadioButton(caption, this);
      ConnectTickButton(b, this, [this, id] { OnControlClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kGroupBox: {
      auto* g = new QGroupBox(caption, this);
      g->setFocusPolicy(Qt::NoFocus);
      w = g;
      break;
    }
    case ControlKind::kLabel: {
      auto* l = new QLabel(caption, this);
      l->setTextFormat(Qt::PlainText);
      Qt::Alignment h = t.Has(style::kCentred) ? Qt::AlignHCenter
                        : t.Has(style::kRight) ? Qt::AlignRight
                                               : Qt::AlignLeft;
      l->setAlignment(h | Qt::AlignVCenter);
      w = l;
      break;
    }
    case ControlKind::kEdit: {
      auto* e = new QLineEdit(caption, this);
      if (t.Has(style::kNumber)) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
      }
      if (t.Has(style::kCentred)) e->setAlignment(Qt::AlignCenter);
      connect(e, &QLineEdit::textChanged, this, [this, id] {
        auto it = m_editChanged.find(id);
        if (it != m_editChanged.end() && it->second) it->second();
      });
      w = e;
      break;
    }
    case ControlKind::kComboBox: {
      auto* c = new QComboBox(this);
      c->setEditable(false);
      c->setProperty("lumivexCaption", caption);
      connect(c, &QComboBox::activated, this, [this, id] {
        auto it = m_selChange.find(id);
        if (it != m_selChange.end() && it->second) it->second();
      });
      w = c;
      break;
    }
    case ControlKind::kSlider: {
      auto* s = new QSlider(Qt::Horizontal, this);
      s->setRange(0, 100);
      s->setTickPosition(t.Has(style::kNoTicks) ? QSlider::NoTicks : QSlider::TicksBelow);
      s->setProperty("lumivexCaption", caption);
      connect(s, &QSlider::valueChanged, this, [this, id] {
        auto it = m_customDraw.find(id);
        if (it != m_customDraw.end() && it->second) it->second();
      });
      s->installEventFilter(this);
      w = s;
      break;
    }
    case ControlKind::kTabControl: {
      auto* tab = new TabControl(this);
      tab->setProperty("lumivexCaption", caption);
      w = tab;
      break;
    }
    case ControlKind::kIcon: {
      auto* l = new QLabel(this);
      const QRect r = MapDialogRect(QRect(t.x, t.y, t.width, t.height), DialogUnits());
      const int side = std::min(r.width(), r.height());
      QPixmap pixmap(QStringLiteral(":/lumivex/%1.png").arg(caption));
      if (!pixmap.isNull()) {
        l->setPixmap(pixmap.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
      }
      l->setProperty("lumivexCaption", caption);
      w = l;
      break;
    }
    case ControlKind::kPlot: {
      auto* plot = new PlotControl(this);
      plot->setProperty("lumivexCaption", caption);
      w = plot;
      break;
    }
  }
  if (id != kStaticId) w->setObjectName(QStringLiteral("control%1").arg(id));
  return w;
}

QSize CDialog::TemplatePixelSize() const {
  if (!m_template) return QSize();
  return MapDialogSize(m_template->width, m_template->height, DialogUnits());
}

bool CDialog::Create(QWidget* parent) {
  if (!BuildFromTemplate(parent, false)) return false;
  OnInitDialog();
  return true;
}

bool CDialog::CreateAsWindow(QWidget* parent) {
  if (!BuildFromTemplate(parent, true)) return false;
  OnInitDialog();
  show();
  raise();
  activateWindow();
  return true;
}

bool CDialog::CreateModeless(QWidget* parent) {
  m_modeless = true;
  return CreateAsWindow(parent);
}

int CDialog::DoModal() {
  m_modalResult = 0;
  QEventLoop loop;
  m_modalLoop = &loop;
  if (!m_created) {
    if (!BuildFromTemplate(parentWidget(), true)) {
      m_modalLoop = nullptr;
      return -1;
    }
    OnInitDialog();
  }
  // EndDialog during the initialisation has ended the run before it starts.
  if (m_modalLoop) {
    show();
    raise();
    activateWindow();
    loop.exec();
  }
  m_modalLoop = nullptr;
  QWidget::hide();
  return m_modalResult;
}

void CDialog::EndDialog(int result) {
  m_modalResult = result;
  QWidget::hide();
  if (m_modalLoop) {
    m_modalLoop->quit();
    m_modalLoop = nullptr;
  }
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

bool CDialog::PreTranslateMessage(QObject* /*target*/, QEvent* /*event*/) {
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

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(*this, saveAndValidate);
  DoDataExchange(&dx);
  return !dx.Failed();
}

ControlSlot* CDialog::FindSlot(int id) {
  auto it = m_slotById.find(id);
  return it == m_slotById.end() ? nullptr : &m_controls[it->second];
}

const ControlSlot* CDialog::FindSlot(int id) const {
  auto it = m_slotById.find(id);
  return it == m_slotById.end() ? nullptr : &m_controls[it->second];
}

QWidget* CDialog::GetDlgItem(int id) const {
  const ControlSlot* slot = FindSlot(id);
  return slot ? slot->widget : nullptr;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  SetControlText(GetDlgItem(id), text);
}

std::string CDialog::GetDlgItemText(int id) const {
  return GetControlText(GetDlgItem(id));
}

void CDialog::SetControlText(QWidget* w, const std::string& text) {
  if (!w) return;
  const QString q = QString::fromStdString(text);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(q);
  } else if (auto* l = qobject_cast<QLabel*>(w); l && l->pixmap().isNull()) {
    l->setText(q);
    if (QWidget* dialog = l->parentWidget()) {
      for (QWidget* named : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (named->property(kNameLabel).value<QObject*>() == l) named->setAccessibleName(q);
      }
    }
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(q);
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    SetEditText(e, q);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    // A drop-down list shows only its entries: a caption can only choose one.
    const int index = c->findText(q, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) c->setCurrentIndex(index);
  } else {
    w->setProperty("lumivexCaption", q);
  }
}

std::string CDialog::GetControlText(const QWidget* w) {
  if (!w) return std::string();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* l = qobject_cast<const QLabel*>(w); l && l->pixmap().isNull())
    return l->text().toStdString();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title().toStdString();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text().toStdString();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText().toStdString();
  return w->property("lumivexCaption").toString().toStdString();
}

void CDialog::SetWindowText(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

std::string CDialog::GetWindowText() const {
  return windowTitle().toStdString();
}

void CDialog::ShowItem(int id, bool show) {
  if (QWidget* w = GetDlgItem(id)) w->setVisible(show);
}

bool CDialog::IsItemShown(int id) const {
  QWidget* w = GetDlgItem(id);
  return w && !w->isHidden();
}

void CDialog::EnableItem(int id, bool enable) {
  if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

bool CDialog::IsItemEnabled(int id) const {
  QWidget* w = GetDlgItem(id);
  return w && w->isEnabled();
}

unsigned CDialog::IsDlgButtonChecked(int id) const {
  QWidget* w = GetDlgItem(id);
  if (auto* c = qobject_cast<QCheckBox*>(w)) {
    switch (c->checkState()) {
      case Qt::Checked:
        return 1;
      case Qt::PartiallyChecked:
        return 2;
      default:
        return 0;
    }
  }
  if (auto* r = qobject_cast<QRadioButton*>(w)) return r->isChecked() ? 1 : 0;
  return 0;
}

void CDialog::CheckDlgButton(int id, unsigned check) {
  QWidget* w = GetDlgItem(id);
  ++ProgramTickChanges;
  if (auto* c = qobject_cast<QCheckBox*>(w)) {
    if (check == 2) c->setTristate(true);
    c->setCheckState(check == 0 ? Qt::Unchecked : check == 2 ? Qt::PartiallyChecked : Qt::Checked);
  } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
    // An exclusive group refuses to untick its ticked button; the program may.
    QButtonGroup* group = r->group();
    if (group) group->setExclusive(false);
    r->setChecked(check != 0);
    if (group) group->setExclusive(true);
  }
  --ProgramTickChanges;
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
    if (qobject_cast<QAbstractButton*>(GetDlgItem(id)) && IsDlgButtonChecked(id) == 1) return id;
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

void CDialog::OnControlClicked(int id) {
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

void CDialog::NotifyCustomDraw(int id) {
  m_customDrawQueued[id] = false;
  auto it = m_customDraw.find(id);
  if (it != m_customDraw.end() && it->second) it->second();
}

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

bool CDialog::RouteInputEvent(QObject* target, QEvent* event) {
  auto* w = qobject_cast<QWidget*>(target);
  const bool leftDown = event->type() == QEvent::MouseButtonPress &&
                        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
  while (w) {
    if (auto* dialog = dynamic_cast<CDialog*>(w)) {
      if (leftDown) {
        for (auto& [id, handler] : dialog->m_lButtonDown) {
          if (handler && dialog->GetDlgItem(id) == target) handler();
        }
      }
      if (dialog->PreTranslateMessage(target, event)) return true;
    }
    if (w->isWindow()) break;
    w = w->parentWidget();
  }
  return false;
}

void CDialog::closeEvent(QCloseEvent* event) {
  // The dialog decides: OnClose ends it (hiding the window) or ignores the request.
  event->ignore();
  OnClose();
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    OnCancel();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    for (const ControlSlot& slot : m_controls) {
      if (slot.tmpl->kind == ControlKind::kPushButton && slot.tmpl->Has(style::kDefault) &&
          slot.widget->isEnabled()) {
        static_cast<QPushButton*>(slot.widget)->click();
        return;
      }
    }
    OnOK();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool CDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint && qobject_cast<QSlider*>(watched)) {
    // Runs after the slider has painted, once for a burst of paints.
    for (const auto& [id, index] : m_slotById) {
      if (m_controls[index].widget != watched || !m_customDraw.count(id)) continue;
      if (!m_customDrawQueued[id]) {
        m_customDrawQueued[id] = true;
        QTimer::singleShot(0, this, [this, id = id] { NotifyCustomDraw(id); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace lumivex::ui
