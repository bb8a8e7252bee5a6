#include "ui/framework/controls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QValidator>

namespace lumivex::ui {

namespace {

// A limit on typing that, unlike QLineEdit's own, never cuts a longer text already in the
// box: a name longer than the limit must reach validation whole, not silently shortened. The
// user may shorten such a text but never lengthen it; the program may set any text.
class ByteLimitValidator : public QValidator {
 public:
  ByteLimitValidator(QLineEdit* edit, int maxBytes, const QValidator* inner)
      : QValidator(edit),
        m_maxBytes(maxBytes),
        m_inner(inner),
        m_acceptedBytes(edit->text().toUtf8().size()) {}

  State validate(QString& input, int& pos) const override {
    const qsizetype bytes = input.toUtf8().size();
    if (!m_programSetting) {
      if (m_inner && m_inner->validate(input, pos) == Invalid) return Invalid;
      if (bytes > m_maxBytes && bytes > m_acceptedBytes) return Invalid;
    }
    m_acceptedBytes = bytes;
    return Acceptable;
  }
  const QValidator* Inner() const { return m_inner; }
  void SetProgramSetting(bool on) { m_programSetting = on; }

 private:
  int m_maxBytes;
  const QValidator* m_inner;
  mutable qsizetype m_acceptedBytes;
  bool m_programSetting = false;
};

// Tabs as compact as the caption allows: the narrowest page must still show all five titles.
class CompactTabStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    if (type == CT_TabBarTab) return size;
    return QProxyStyle::sizeFromContents(type, option, size, widget);
  }
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_TabBarTabHSpace) return 14;
    if (metric == PM_TabBarTabVSpace) return 8;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

struct TickButtonParts {
  QStyle::SubElement indicatorRect;
  QStyle::PrimitiveElement indicator;
  QStyle::ControlElement label;
  QStyle::PixelMetric spacing;
};

constexpr TickButtonParts kCheckBoxParts{QStyle::SE_CheckBoxIndicator, QStyle::PE_IndicatorCheckBox,
                                         QStyle::CE_CheckBoxLabel, QStyle::PM_CheckBoxLabelSpacing};
constexpr TickButtonParts kRadioButtonParts{
    QStyle::SE_RadioButtonIndicator, QStyle::PE_IndicatorRadioButton, QStyle::CE_RadioButtonLabel,
    QStyle::PM_RadioButtonLabelSpacing};

void PaintLeftText(QAbstractButton* button, QStyleOptionButton option,
                   const TickButtonParts& parts) {
  QStylePainter painter(button);
  QStyle* style = button->style();
  // Whatever the window's direction, this button reads left to right: text, then box.
  option.direction = Qt::LeftToRight;
  QStyleOptionButton box = option;
  box.rect = style->subElementRect(parts.indicatorRect, &option, button);
  box.rect.moveRight(option.rect.right());
  painter.drawPrimitive(parts.indicator, box);

  QStyleOptionButton label = option;
  const int spacing = style->pixelMetric(parts.spacing, &option, button);
  label.rect.setRight(box.rect.left() - spacing - 1);
  painter.drawControl(parts.label, label);
  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.initFrom(button);
    focus.rect =
        option.fontMetrics.boundingRect(label.rect, Qt::AlignLeft | Qt::AlignVCenter, option.text)
            .intersected(label.rect)
            .adjusted(-1, 0, 1, 0);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

// Name: the caption of the label before the list (set by the dialog); value: the selected
// entry. The dropped list is its one child, as in Qt's own list.
class AccessibleComboBox : public QAccessibleWidget {
 public:
  explicit AccessibleComboBox(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    switch (t) {
      case QAccessible::Name: {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? Combo()->currentText() : name;
      }
      case QAccessible::Value:
        return Combo()->currentText();
      default:
        return QAccessibleWidget::text(t);
    }
  }
  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(Combo()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && child->object() == Combo()->view() ? 0 : -1;
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.expanded = Combo()->view()->isVisible();
    return s;
  }
  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action != showMenuAction() && action != pressAction()) {
      QAccessibleWidget::doAction(action);
    } else if (Combo()->isEnabled()) {
      if (Combo()->view()->isVisible()) {
        Combo()->hidePopup();
      } else {
        Combo()->showPopup();
      }
    }
  }

 private:
  QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* ControlAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("QComboBox")) {
    if (auto* combo = qobject_cast<QComboBox*>(object)) return new AccessibleComboBox(combo);
  }
  return nullptr;
}

}  // namespace

void CWndHandle::EnableWindow(bool enable) {
  if (m_widget) m_widget->setEnabled(enable);
}

void CWndHandle::ShowWindow(bool show) {
  if (m_widget) m_widget->setVisible(show);
}

void InstallControlAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(ControlAccessibleFactory);
}

// ----- left-text buttons

void LeftTextCheckBox::paintEvent(QPaintEvent* /*event*/) {
  QStyleOptionButton option;
  initStyleOption(&option);
  PaintLeftText(this, option, kCheckBoxParts);
}

bool LeftTextCheckBox::hitButton(const QPoint& pos) const {
  return rect().contains(pos);
}

void LeftTextRadioButton::paintEvent(QPaintEvent* /*event*/) {
  QStyleOptionButton option;
  initStyleOption(&option);
  PaintLeftText(this, option, kRadioButtonParts);
}

bool LeftTextRadioButton::hitButton(const QPoint& pos) const {
  return rect().contains(pos);
}

// ----- CEdit

bool CEdit::Attach(QWidget* widget) {
  if (!qobject_cast<QLineEdit*>(widget)) return false;
  m_widget = widget;
  return true;
}

QLineEdit* CEdit::Widget() const {
  return static_cast<QLineEdit*>(m_widget);
}

std::string CEdit::GetWindowText() const {
  return m_widget ? Widget()->text().toStdString() : std::string();
}

void CEdit::SetWindowText(const std::string& text) {
  if (m_widget) SetEditText(Widget(), QString::fromStdString(text));
}

void SetEditText(QLineEdit* edit, const QString& text) {
  auto* limit = dynamic_cast<ByteLimitValidator*>(const_cast<QValidator*>(edit->validator()));
  if (limit) limit->SetProgramSetting(true);
  edit->setText(text);
  if (limit) limit->SetProgramSetting(false);
}

void CEdit::SetLimitText(int maxBytes) {
  if (!m_widget) return;
  QLineEdit* edit = Widget();
  // The digits-only filter of a number box stays in force under the limit.
  const QValidator* inner = edit->validator();
  if (auto* limit = dynamic_cast<const ByteLimitValidator*>(inner)) {
    inner = limit->Inner();
    delete limit;
  }
  edit->setValidator(maxBytes > 0 ? new ByteLimitValidator(edit, maxBytes, inner) : inner);
}

// ----- CComboBox

bool CComboBox::Attach(QWidget* widget) {
  if (!qobject_cast<QComboBox*>(widget)) return false;
  m_widget = widget;
  return true;
}

QComboBox* CComboBox::Widget() const {
  return static_cast<QComboBox*>(m_widget);
}

int CComboBox::AddString(const std::string& text) {
  if (!m_widget) return -1;
  QComboBox* combo = Widget();
  // Adding to an empty list must not select the new entry: the list starts with none.
  const int selected = combo->currentIndex();
  combo->addItem(QString::fromStdString(text));
  if (combo->currentIndex() != selected) combo->setCurrentIndex(selected);
  return combo->count() - 1;
}

int CComboBox::GetCount() const {
  return m_widget ? Widget()->count() : 0;
}

int CComboBox::GetCurSel() const {
  return m_widget ? Widget()->currentIndex() : -1;
}

int CComboBox::SetCurSel(int index) {
  if (!m_widget) return -1;
  QComboBox* combo = Widget();
  if (index < 0 || index >= combo->count()) index = -1;
  combo->setCurrentIndex(index);
  return combo->currentIndex();
}

std::string CComboBox::GetLBText(int index) const {
  if (!m_widget || index < 0 || index >= Widget()->count()) return std::string();
  return Widget()->itemText(index).toStdString();
}

void CComboBox::ResetContent() {
  if (m_widget) Widget()->clear();
}

// ----- CSliderCtrl

bool CSliderCtrl::Attach(QWidget* widget) {
  if (!qobject_cast<QSlider*>(widget)) return false;
  m_widget = widget;
  return true;
}

QSlider* CSliderCtrl::Widget() const {
  return static_cast<QSlider*>(m_widget);
}

void CSliderCtrl::SetRange(int minimum, int maximum, bool redraw) {
  if (!m_widget) return;
  Widget()->setRange(minimum, maximum);
  if (redraw) Widget()->update();
}

int CSliderCtrl::GetRangeMin() const {
  return m_widget ? Widget()->minimum() : 0;
}

int CSliderCtrl::GetRangeMax() const {
  return m_widget ? Widget()->maximum() : 0;
}

void CSliderCtrl::SetTicFreq(int frequency) {
  if (m_widget) Widget()->setTickInterval(frequency);
}

int CSliderCtrl::GetPos() const {
  return m_widget ? Widget()->value() : 0;
}

void CSliderCtrl::SetPos(int position) {
  if (!m_widget) return;
  Widget()->setValue(position);
  Widget()->update();
}

// ----- TabControl

TabControl::TabControl(QWidget* parent) : QWidget(parent), m_tabBar(new QTabBar(this)) {
  auto* compact = new CompactTabStyle(style()->name());
  compact->setParent(m_tabBar);
  m_tabBar->setStyle(compact);
  m_tabBar->setDrawBase(false);
  m_tabBar->setExpanding(false);
  m_tabBar->setUsesScrollButtons(true);
  connect(m_tabBar, &QTabBar::currentChanged, this, [this](int index) {
    if (index >= 0) emit selectionChanged(index);
  });
}

void TabControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_tabBar->setGeometry(0, 0, width(), m_tabBar->sizeHint().height());
}

void TabControl::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(this);
  const int top = m_tabBar->sizeHint().height() - 1;
  frame.rect = QRect(0, top, width(), height() - top);
  frame.shape = QTabBar::RoundedNorth;
  frame.tabBarSize = m_tabBar->sizeHint();
  frame.tabBarRect = m_tabBar->geometry();
  frame.selectedTabRect = m_tabBar->tabRect(m_tabBar->currentIndex());
  frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

// ----- CTabCtrl

bool CTabCtrl::Attach(QWidget* widget) {
  if (!qobject_cast<TabControl*>(widget)) return false;
  m_widget = widget;
  return true;
}

TabControl* CTabCtrl::Widget() const {
  return static_cast<TabControl*>(m_widget);
}

int CTabCtrl::InsertItem(int position, const std::string& text) {
  if (!m_widget) return -1;
  QTabBar* bar = Widget()->TabBar();
  // The first tab becomes current by itself; that is no choice of the user's.
  const QSignalBlocker blocker(bar);
  position = std::clamp(position, 0, bar->count());
  const int index = bar->insertTab(position, QString::fromStdString(text));
  Widget()->TabBar()->resize(Widget()->width(), bar->sizeHint().height());
  Widget()->update();
  return index;
}

int CTabCtrl::GetItemCount() const {
  return m_widget ? Widget()->TabBar()->count() : 0;
}

std::string CTabCtrl::GetItemText(int index) const {
  if (!m_widget) return std::string();
  return Widget()->TabBar()->tabText(index).toStdString();
}

int CTabCtrl::GetCurSel() const {
  return m_widget ? Widget()->TabBar()->currentIndex() : -1;
}

int CTabCtrl::SetCurSel(int index) {
  if (!m_widget) return -1;
  QTabBar* bar = Widget()->TabBar();
  const int previous = bar->currentIndex();
  if (index < 0 || index >= bar->count()) return -1;
  const QSignalBlocker blocker(bar);
  bar->setCurrentIndex(index);
  Widget()->update();
  return previous;
}

}  // namespace lumivex::ui
