// The Qt backend of CDialog: the dialog is a QWidget, each control a child widget built from the
// template; window-system events reach the dialog's neutral handlers from here.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTimer>
#include <algorithm>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/qt/controls_qt.h"

// The icon is compiled into this library; a static library needs its resources registered by
// name before the first lookup.
static void RegisterQtResources() {
  Q_INIT_RESOURCE(lumivex);
}

namespace lumivex::ui {

void EnsureQtResources() {
  static const bool registered = (RegisterQtResources(), true);
  (void)registered;
}

namespace {

QRect ToQRect(const Rect& r) {
  return QRect(r.x, r.y, r.width, r.height);
}

Rect FromQRect(const QRect& r) {
  return Rect{r.x(), r.y(), r.width(), r.height()};
}

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

Key KeyOf(int key) {
  switch (key) {
    case Qt::Key_Escape:
      return Key::kEscape;
    case Qt::Key_Return:
      return Key::kReturn;
    case Qt::Key_Enter:
      return Key::kEnter;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return Key::kTab;
    case Qt::Key_Left:
      return Key::kLeft;
    case Qt::Key_Right:
      return Key::kRight;
    case Qt::Key_Up:
      return Key::kUp;
    case Qt::Key_Down:
      return Key::kDown;
    default:
      return Key::kOther;
  }
}

MouseButton ButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return MouseButton::kLeft;
    case Qt::RightButton:
      return MouseButton::kRight;
    case Qt::MiddleButton:
      return MouseButton::kMiddle;
    default:
      return MouseButton::kNone;
  }
}

InputMessage MessageOf(QWidget* target, QEvent* event) {
  InputMessage message;
  message.target = target;
  switch (event->type()) {
    case QEvent::KeyPress:
      message.type = InputMessage::Type::kKeyDown;
      break;
    case QEvent::KeyRelease:
      message.type = InputMessage::Type::kKeyUp;
      break;
    case QEvent::MouseButtonPress:
      message.type = InputMessage::Type::kMouseDown;
      break;
    case QEvent::MouseButtonRelease:
      message.type = InputMessage::Type::kMouseUp;
      break;
    case QEvent::MouseButtonDblClick:
      message.type = InputMessage::Type::kMouseDoubleClick;
      break;
    default:
      message.type = InputMessage::Type::kWheel;
      break;
  }
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    message.key = KeyOf(static_cast<QKeyEvent*>(event)->key());
  } else if (event->type() != QEvent::Wheel) {
    message.button = ButtonOf(static_cast<QMouseEvent*>(event)->button());
  }
  return message;
}

// Every input event of the program passes here first, so a dialog sees the events of all its
// descendants, including controls that are created after it.
class InputRouter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsRoutedInput(event->type()) || !watched->isWidgetType()) return false;
    auto* target = static_cast<QWidget*>(watched);
    // The innermost dialog around the target, within its window.
    for (QWidget* w = target; w != nullptr; w = w->parentWidget()) {
      if (auto* dialog = dynamic_cast<CDialog*>(w)) {
        return CDialog::RouteInput(dialog, MessageOf(target, event));
      }
      if (w->isWindow()) break;
    }
    return false;
  }
};

void InstallInputRouter() {
  static QObject* router = nullptr;
  if (router || !qApp) return;
  router = new InputRouter(qApp);
  qApp->installEventFilter(router);
}

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
// The caption of a control that shows none (a slider, a plot, the tab control).
constexpr char kCaption[] = "lumivexCaption";

// Marks a slider whose custom-draw notification after painting is on its way.
constexpr char kCustomDrawQueued[] = "lumivexCustomDrawQueued";

bool TakesItsNameFromALabel(ControlKind kind) {
  return kind == ControlKind::kEdit || kind == ControlKind::kSlider ||
         kind == ControlKind::kComboBox;
}

}  // namespace

// ----- the dialog's own state under Qt

struct CDialog::Backend {
  std::vector<QButtonGroup*> radioGroups;
  QEventLoop* modalLoop = nullptr;
  int modalResult = 0;

  static QWidget* MakeControl(CDialog& dialog, const ControlTemplate& t);
};

// ----- DialogBase: the window system's events

void DialogBase::closeEvent(QCloseEvent* event) {
  // The dialog decides: OnClose ends it (hiding the window) or ignores the request.
  event->ignore();
  static_cast<CDialog*>(this)->OnClose();
}

void DialogBase::keyPressEvent(QKeyEvent* event) {
  auto* dialog = static_cast<CDialog*>(this);
  if (event->key() == Qt::Key_Escape) {
    dialog->OnCancel();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (const int id = dialog->DefaultButtonId()) {
      if (auto* button = qobject_cast<QPushButton*>(dialog->GetDlgItem(id))) {
        button->click();
        return;
      }
    }
    dialog->OnOK();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool DialogBase::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint && qobject_cast<QSlider*>(watched)) {
    // Runs after the slider has painted, once for a burst of paints.
    auto* dialog = static_cast<CDialog*>(this);
    auto* slider = static_cast<QSlider*>(watched);
    const int id = dialog->ControlIdOf(slider);
    if (id != kStaticId && !slider->property(kCustomDrawQueued).toBool()) {
      slider->setProperty(kCustomDrawQueued, true);
      QTimer::singleShot(0, slider, [dialog, slider, id] {
        slider->setProperty(kCustomDrawQueued, false);
        dialog->NotifyCustomDraw(id);
      });
    }
  }
  return QWidget::eventFilter(watched, event);
}

void DialogBase::contextMenuEvent(QContextMenuEvent* event) {
  const std::vector<MenuEntry> entries = static_cast<CDialog*>(this)->ContextMenuEntries();
  if (entries.empty()) {
    // The dialog around this one may have a menu.
    QWidget::contextMenuEvent(event);
    return;
  }
  QMenu menu(this);
  std::vector<QAction*> actions;
  for (const MenuEntry& entry : entries) {
    actions.push_back(menu.addAction(QString::fromStdString(entry.text)));
  }
  QAction* chosen = menu.exec(event->globalPos());
  for (std::size_t i = 0; i < actions.size(); ++i) {
    if (actions[i] == chosen && entries[i].action) entries[i].action();
  }
}

void DialogBase::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  static_cast<CDialog*>(this)->OnSize(Size{width(), height()});
}

void DialogBase::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  static_cast<CDialog*>(this)->OnShowWindow(true);
}

void DialogBase::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  static_cast<CDialog*>(this)->OnShowWindow(false);
}

// ----- CDialog: life

CDialog::CDialog(int templateId, CDialog* owner)
    : m_templateId(templateId), m_owner(owner), m_backend(std::make_unique<Backend>()) {
  EnsureQtResources();
  InstallInputRouter();
  InstallControlAccessibility();
  // A window that closes must not end the program's event loops: the program ends when the
  // main window's run returns.
  setAttribute(Qt::WA_QuitOnClose, false);
  QWidget::hide();
}

CDialog::~CDialog() {
  if (m_backend->modalLoop) m_backend->modalLoop->quit();
}

bool CDialog::BuildFromTemplate(CDialog* parent, int hostId, bool asWindow) {
  if (m_created) return true;
  if (!m_template) return false;

  QWidget* parentWidget = parent;
  if (parent != nullptr && hostId != kStaticId && parent->GetDlgItem(hostId) != nullptr) {
    parentWidget = parent->GetDlgItem(hostId);
  }
  if (asWindow) {
    Qt::WindowFlags flags = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    setWindowFlags(parentWidget ? (Qt::Dialog | flags)
                                : (Qt::Window | Qt::WindowMinimizeButtonHint | flags));
    setParent(parentWidget, windowFlags());
    if (parentWidget && !m_modeless) setWindowModality(Qt::WindowModal);
    setWindowTitle(QString::fromStdString(m_template->caption));
  } else {
    setParent(parentWidget);
  }
  setFont(DialogFont());
  QWidget::hide();
  const DialogBaseUnits base = DialogUnits();
  const Size size = TemplatePixelSize();
  resize(size.width, size.height);

  m_controls.reserve(m_template->controls.size());
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& t : m_template->controls) {
    if (t.Has(style::kGroup)) radioGroup = nullptr;
    QWidget* w = Backend::MakeControl(*this, t);
    QRect rect = ToQRect(MapDialogRect(Rect{t.x, t.y, t.width, t.height}, base));
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
        m_backend->radioGroups.push_back(radioGroup);
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

QWidget* CDialog::Backend::MakeControl(CDialog& dialog, const ControlTemplate& t) {
  const QString caption = QString::fromStdString(t.caption);
  const int id = t.id;
  CDialog* self = &dialog;
  QWidget* w = nullptr;
  switch (t.kind) {
    case ControlKind::kPushButton: {
      auto* b = new QPushButton(caption, self);
      b->setAutoDefault(false);
      QObject::connect(b, &QPushButton::clicked, self, [self, id] { self->NotifyClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kCheckBox: {
      if (t.Has(style::kPushLike)) {
        // A button that stays down while ticked.
        auto* b = new QPushButton(caption, self);
        b->setAutoDefault(false);
        b->setCheckable(true);
        ConnectTickButton(b, self, [self, id] { self->NotifyClicked(id); });
        w = b;
        break;
      }
      QCheckBox* b = t.Has(style::kTextLeft) ? new LeftTextCheckBox(caption, self)
                                             : new QCheckBox(caption, self);
      ConnectTickButton(b, self, [self, id] { self->NotifyClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kRadioButton: {
      // Left auto-exclusive, which makes assistive technologies call it a radio button; its
      // button group, not its parent, decides which buttons exclude each other.
      QRadioButton* b = t.Has(style::kTextLeft) ? new LeftTextRadioButton(caption, self)
                                                : new QRadioButton(caption, self);
      ConnectTickButton(b, self, [self, id] { self->NotifyClicked(id); });
      w = b;
      break;
    }
    case ControlKind::kGroupBox: {
      auto* g = new QGroupBox(caption, self);
      g->setFocusPolicy(Qt::NoFocus);
      w = g;
      break;
    }
    case ControlKind::kLabel: {
      auto* l = new QLabel(caption, self);
      l->setTextFormat(Qt::PlainText);
      Qt::Alignment h = t.Has(style::kCentred) ? Qt::AlignHCenter
                        : t.Has(style::kRight) ? Qt::AlignRight
                                               : Qt::AlignLeft;
      l->setAlignment(h | Qt::AlignVCenter);
      w = l;
      break;
    }
    case ControlKind::kEdit: {
      auto* e = new QLineEdit(caption, self);
      if (t.Has(style::kNumber)) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
      }
      if (t.Has(style::kCentred)) e->setAlignment(Qt::AlignCenter);
      QObject::connect(e, &QLineEdit::textChanged, self,
                       [self, id] { self->NotifyEditChanged(id); });
      w = e;
      break;
    }
    case ControlKind::kComboBox: {
      auto* c = new QComboBox(self);
      c->setEditable(false);
      c->setProperty(kCaption, caption);
      QObject::connect(c, &QComboBox::activated, self, [self, id] { self->NotifySelChange(id); });
      w = c;
      break;
    }
    case ControlKind::kSlider: {
      auto* s = new QSlider(Qt::Horizontal, self);
      s->setRange(0, 100);
      s->setTickPosition(t.Has(style::kNoTicks) ? QSlider::NoTicks : QSlider::TicksBelow);
      s->setProperty(kCaption, caption);
      QObject::connect(s, &QSlider::valueChanged, self, [self, id] { self->NotifyCustomDraw(id); });
      s->installEventFilter(self);
      w = s;
      break;
    }
    case ControlKind::kTabControl: {
      auto* tab = new TabControl(self);
      tab->setProperty(kCaption, caption);
      QObject::connect(tab, &TabControl::selectionChanged, self,
                       [self, id] { self->NotifyTabSelChange(id); });
      w = tab;
      break;
    }
    case ControlKind::kIcon: {
      auto* l = new QLabel(self);
      const Rect r = MapDialogRect(Rect{t.x, t.y, t.width, t.height}, DialogUnits());
      const int side = std::min(r.width, r.height);
      QPixmap pixmap(QStringLiteral(":/lumivex/%1.png").arg(caption));
      if (!pixmap.isNull()) {
        l->setPixmap(pixmap.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
      }
      l->setProperty(kCaption, caption);
      w = l;
      break;
    }
    case ControlKind::kPlot: {
      auto* plot = new PlotWidget(self);
      plot->setProperty(kCaption, caption);
      w = plot;
      break;
    }
    case ControlKind::kTextView: {
      auto* view = new QPlainTextEdit(self);
      view->setReadOnly(true);
      view->setLineWrapMode(QPlainTextEdit::NoWrap);
      view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      view->setProperty(kCaption, caption);
      w = view;
      break;
    }
  }
  if (id != kStaticId) w->setObjectName(QStringLiteral("control%1").arg(id));
  return w;
}

int CDialog::DoModal() {
  m_backend->modalResult = 0;
  QEventLoop loop;
  m_backend->modalLoop = &loop;
  if (!m_created) {
    m_template = FindDialogTemplate(m_templateId);
    if (!m_template || !BuildFromTemplate(m_owner, kStaticId, true)) {
      m_backend->modalLoop = nullptr;
      return -1;
    }
    OnInitDialog();
  }
  // EndDialog during the initialisation has ended the run before it starts.
  if (m_backend->modalLoop) {
    show();
    raise();
    activateWindow();
    loop.exec();
  }
  m_backend->modalLoop = nullptr;
  QWidget::hide();
  return m_backend->modalResult;
}

void CDialog::EndDialog(int result) {
  m_backend->modalResult = result;
  QWidget::hide();
  if (m_backend->modalLoop) {
    m_backend->modalLoop->quit();
    m_backend->modalLoop = nullptr;
  }
}

// ----- the window

NativeWindow CDialog::GetSafeWnd() const {
  return const_cast<CDialog*>(this);
}

void CDialog::SetWindowText(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

std::string CDialog::GetWindowText() const {
  return windowTitle().toStdString();
}

void CDialog::ShowWindow(bool show) {
  setVisible(show);
}

bool CDialog::IsWindowVisible() const {
  return isVisible();
}

void CDialog::BringToFront() {
  raise();
  activateWindow();
}

void CDialog::Close() {
  QWidget::close();
}

void CDialog::MoveWindow(const Rect& rect) {
  setGeometry(ToQRect(rect));
}

Rect CDialog::WindowRect() const {
  return FromQRect(geometry());
}

void CDialog::SetFixedClientSize(Size client) {
  const QPoint topLeft = pos();
  setFixedSize(client.width, client.height);
  move(topLeft);
}

Size CDialog::ClientSize() const {
  return Size{width(), height()};
}

void CDialog::SetResizable(Size minimum) {
  if (isWindow()) setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setMinimumSize(minimum.width, minimum.height);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

// ----- controls

int CDialog::ControlIdOf(NativeWindow control) const {
  for (QWidget* w = control; w != nullptr && w != this; w = w->parentWidget()) {
    for (const auto& [id, index] : m_slotById) {
      if (m_controls[index].widget == w) return id;
    }
    if (w->isWindow()) break;
  }
  return kStaticId;
}

void CDialog::SetControlText(NativeWindow w, const std::string& text) {
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
    w->setProperty(kCaption, q);
  }
}

std::string CDialog::GetControlText(NativeWindow w) {
  if (!w) return std::string();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* l = qobject_cast<const QLabel*>(w); l && l->pixmap().isNull())
    return l->text().toStdString();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title().toStdString();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text().toStdString();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText().toStdString();
  return w->property(kCaption).toString().toStdString();
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

void CDialog::MoveItem(int id, const Rect& rect) {
  if (QWidget* w = GetDlgItem(id)) w->setGeometry(ToQRect(rect));
}

Rect CDialog::ItemRect(int id) const {
  QWidget* w = GetDlgItem(id);
  return w ? FromQRect(w->geometry()) : Rect{};
}

void CDialog::FocusItem(int id) {
  if (QWidget* w = GetDlgItem(id)) w->setFocus(Qt::OtherFocusReason);
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
  if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
    return b->isChecked() ? 1 : 0;
  }
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
  } else if (auto* b = qobject_cast<QPushButton*>(w); b && b->isCheckable()) {
    b->setChecked(check != 0);
  }
  --ProgramTickChanges;
}

}  // namespace lumivex::ui
