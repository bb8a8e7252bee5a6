// The Qt backend of the control objects, and the widgets only this backend has.
#include "ui/framework/controls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QValidator>
#include <algorithm>

#include "ui/framework/dialog.h"
#include "ui/framework/qt/controls_qt.h"

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

bool CEdit::Attach(NativeWindow widget) {
  if (!qobject_cast<QLineEdit*>(widget)) return false;
  m_widget = widget;
  return true;
}

namespace {
QLineEdit* EditOf(QWidget* widget) {
  return static_cast<QLineEdit*>(widget);
}
QComboBox* ComboOf(QWidget* widget) {
  return static_cast<QComboBox*>(widget);
}
QSlider* SliderOf(QWidget* widget) {
  return static_cast<QSlider*>(widget);
}
TabControl* TabsOf(QWidget* widget) {
  return static_cast<TabControl*>(widget);
}
QPlainTextEdit* ViewOf(QWidget* widget) {
  return static_cast<QPlainTextEdit*>(widget);
}
}  // namespace

std::string CEdit::GetWindowText() const {
  return m_widget ? EditOf(m_widget)->text().toStdString() : std::string();
}

void CEdit::SetWindowText(const std::string& text) {
  if (m_widget) SetEditText(EditOf(m_widget), QString::fromStdString(text));
}

void CEdit::SelectAll() {
  if (m_widget) EditOf(m_widget)->selectAll();
}

void SetEditText(QLineEdit* edit, const QString& text) {
  auto* limit = dynamic_cast<ByteLimitValidator*>(const_cast<QValidator*>(edit->validator()));
  if (limit) limit->SetProgramSetting(true);
  edit->setText(text);
  if (limit) limit->SetProgramSetting(false);
}

void CEdit::SetLimitText(int maxBytes) {
  if (!m_widget) return;
  QLineEdit* edit = EditOf(m_widget);
  // The digits-only filter of a number box stays in force under the limit.
  const QValidator* inner = edit->validator();
  if (auto* limit = dynamic_cast<const ByteLimitValidator*>(inner)) {
    inner = limit->Inner();
    delete limit;
  }
  edit->setValidator(maxBytes > 0 ? new ByteLimitValidator(edit, maxBytes, inner) : inner);
}

// ----- CComboBox

bool CComboBox::Attach(NativeWindow widget) {
  if (!qobject_cast<QComboBox*>(widget)) return false;
  m_widget = widget;
  return true;
}

int CComboBox::AddString(const std::string& text) {
  if (!m_widget) return -1;
  QComboBox* combo = ComboOf(m_widget);
  // Adding to an empty list must not select the new entry: the list starts with none.
  const int selected = combo->currentIndex();
  combo->addItem(QString::fromStdString(text));
  if (combo->currentIndex() != selected) combo->setCurrentIndex(selected);
  return combo->count() - 1;
}

int CComboBox::GetCount() const {
  return m_widget ? ComboOf(m_widget)->count() : 0;
}

int CComboBox::GetCurSel() const {
  return m_widget ? ComboOf(m_widget)->currentIndex() : -1;
}

int CComboBox::SetCurSel(int index) {
  if (!m_widget) return -1;
  QComboBox* combo = ComboOf(m_widget);
  if (index < 0 || index >= combo->count()) index = -1;
  combo->setCurrentIndex(index);
  return combo->currentIndex();
}

std::string CComboBox::GetLBText(int index) const {
  if (!m_widget || index < 0 || index >= ComboOf(m_widget)->count()) return std::string();
  return ComboOf(m_widget)->itemText(index).toStdString();
}

void CComboBox::ResetContent() {
  if (m_widget) ComboOf(m_widget)->clear();
}

// ----- CSliderCtrl

bool CSliderCtrl::Attach(NativeWindow widget) {
  if (!qobject_cast<QSlider*>(widget)) return false;
  m_widget = widget;
  return true;
}

void CSliderCtrl::SetRange(int minimum, int maximum, bool redraw) {
  if (!m_widget) return;
  SliderOf(m_widget)->setRange(minimum, maximum);
  if (redraw) SliderOf(m_widget)->update();
}

int CSliderCtrl::GetRangeMin() const {
  return m_widget ? SliderOf(m_widget)->minimum() : 0;
}

int CSliderCtrl::GetRangeMax() const {
  return m_widget ? SliderOf(m_widget)->maximum() : 0;
}

void CSliderCtrl::SetTicFreq(int frequency) {
  if (m_widget) SliderOf(m_widget)->setTickInterval(frequency);
}

int CSliderCtrl::GetPos() const {
  return m_widget ? SliderOf(m_widget)->value() : 0;
}

void CSliderCtrl::SetPos(int position) {
  if (!m_widget) return;
  SliderOf(m_widget)->setValue(position);
  SliderOf(m_widget)->update();
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

bool CTabCtrl::Attach(NativeWindow widget) {
  if (!qobject_cast<TabControl*>(widget)) return false;
  m_widget = widget;
  return true;
}

int CTabCtrl::InsertItem(int position, const std::string& text) {
  if (!m_widget) return -1;
  QTabBar* bar = TabsOf(m_widget)->TabBar();
  // The first tab becomes current by itself; that is no choice of the user's.
  const QSignalBlocker blocker(bar);
  position = std::clamp(position, 0, bar->count());
  const int index = bar->insertTab(position, QString::fromStdString(text));
  TabsOf(m_widget)->TabBar()->resize(TabsOf(m_widget)->width(), bar->sizeHint().height());
  TabsOf(m_widget)->update();
  return index;
}

int CTabCtrl::GetItemCount() const {
  return m_widget ? TabsOf(m_widget)->TabBar()->count() : 0;
}

std::string CTabCtrl::GetItemText(int index) const {
  if (!m_widget) return std::string();
  return TabsOf(m_widget)->TabBar()->tabText(index).toStdString();
}

int CTabCtrl::GetCurSel() const {
  return m_widget ? TabsOf(m_widget)->TabBar()->currentIndex() : -1;
}

int CTabCtrl::SetCurSel(int index) {
  if (!m_widget) return -1;
  QTabBar* bar = TabsOf(m_widget)->TabBar();
  const int previous = bar->currentIndex();
  if (index < 0 || index >= bar->count()) return -1;
  const QSignalBlocker blocker(bar);
  bar->setCurrentIndex(index);
  TabsOf(m_widget)->update();
  return previous;
}

// ----- CTextView

bool CTextView::Attach(NativeWindow widget) {
  if (!qobject_cast<QPlainTextEdit*>(widget)) return false;
  m_widget = widget;
  return true;
}

void CTextView::SetMaxLines(std::size_t maxLines) {
  if (m_widget) ViewOf(m_widget)->setMaximumBlockCount(static_cast<int>(maxLines));
}

void CTextView::AppendLines(const std::vector<std::string>& lines) {
  if (!m_widget || lines.empty()) return;
  std::string batch;
  for (const std::string& line : lines) {
    if (!batch.empty()) batch += '\n';
    batch += line;
  }
  // Scrolls along at the end; a user who has scrolled up keeps his place.
  ViewOf(m_widget)->appendPlainText(QString::fromStdString(batch));
}

void CTextView::Clear() {
  if (m_widget) ViewOf(m_widget)->clear();
}

std::vector<std::string> CTextView::Lines() const {
  std::vector<std::string> lines;
  if (!m_widget || ViewOf(m_widget)->document()->isEmpty()) return lines;
  for (const QString& line : ViewOf(m_widget)->toPlainText().split(QLatin1Char('\n'))) {
    lines.push_back(line.toStdString());
  }
  return lines;
}

std::string CTextView::SelectedOrAllText() const {
  if (!m_widget) return std::string();
  const QString selected = ViewOf(m_widget)->textCursor().selectedText();
  // A selection spans lines with the paragraph separator; the clipboard wants line ends.
  return (selected.isEmpty() ? ViewOf(m_widget)->toPlainText()
                             : QString(selected).replace(QChar::ParagraphSeparator, '\n'))
      .toStdString();
}

// ----- CStatusLine

namespace {
// Space above and below the status line's text, and before and after it.
constexpr int kStatusPadding = 6;
constexpr int kStatusIndent = 4;

QLabel* LabelOf(QWidget* widget) {
  return static_cast<QLabel*>(widget);
}
}  // namespace

CStatusLine::~CStatusLine() {
  delete m_widget;
}

void CStatusLine::Create(CDialog& owner) {
  if (m_widget != nullptr) return;
  auto* label = new QLabel(&owner);
  label->setObjectName(QStringLiteral("statusLine"));
  label->setTextFormat(Qt::PlainText);
  label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  label->setIndent(kStatusIndent);
  label->show();
  m_widget = label;
}

int CStatusLine::Height() const {
  if (m_widget == nullptr) return 0;
  return m_widget->fontMetrics().height() + kStatusPadding;
}

void CStatusLine::MoveWindow(const Rect& rect) {
  if (m_widget == nullptr) return;
  m_widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
  SetText(m_text);
}

void CStatusLine::SetText(const std::string& text) {
  m_text = text;
  if (m_widget == nullptr) return;
  QLabel* label = LabelOf(m_widget);
  const QString whole = QString::fromStdString(text);
  // A narrow window cuts the line in the middle rather than losing its end.
  const QString shown = label->fontMetrics().elidedText(
      whole, Qt::ElideMiddle, label->contentsRect().width() - 2 * label->indent());
  if (label->text() != shown) label->setText(shown);
  if (label->toolTip() != whole) label->setToolTip(whole);
  if (label->accessibleName() != whole) label->setAccessibleName(whole);
}

std::string CStatusLine::ShownText() const {
  return m_widget ? LabelOf(m_widget)->text().toStdString() : std::string();
}

}  // namespace lumivex::ui
