// Control objects that a dialog attaches to its controls with DDX_Control, the way a page keeps
// its edit box, list or slider at hand. Before they are attached every call does nothing and
// returns the "none" value (-1, 0 or ""). GUI thread only.
#pragma once

#include <QCheckBox>
#include <QRadioButton>
#include <QWidget>
#include <string>

class QComboBox;
class QLineEdit;
class QSlider;
class QTabBar;

namespace lumivex::ui {

class CWndHandle {
 public:
  virtual ~CWndHandle() = default;
  QWidget* GetSafeWnd() const { return m_widget; }
  bool IsAttached() const { return m_widget != nullptr; }
  void EnableWindow(bool enable);
  void ShowWindow(bool show);
  // The class name this handle gives its control; window translation leaves "CEdit" alone.
  virtual const char* ClassName() const = 0;
  // Attaches to widget, which must be of the handle's kind; false when it is not.
  virtual bool Attach(QWidget* widget) = 0;

 protected:
  QWidget* m_widget = nullptr;
};

class CEdit : public CWndHandle {
 public:
  const char* ClassName() const override { return "CEdit"; }
  bool Attach(QWidget* widget) override;
  QLineEdit* Widget() const;
  std::string GetWindowText() const;
  void SetWindowText(const std::string& text);
  // Limits what the user can type to maxBytes bytes of UTF-8; a longer text already in the box
  // stays as it is (it can be shortened, not lengthened). 0 removes the limit.
  void SetLimitText(int maxBytes);
};

// Sets an edit box's text as the program does: a typing limit never refuses or cuts it.
void SetEditText(QLineEdit* edit, const QString& text);

class CComboBox : public CWndHandle {
 public:
  const char* ClassName() const override { return "CComboBox"; }
  bool Attach(QWidget* widget) override;
  QComboBox* Widget() const;
  // Appends an entry (the list is unsorted); returns its index.
  int AddString(const std::string& text);
  int GetCount() const;
  // The selected index, -1 for none.
  int GetCurSel() const;
  // Selects index (-1, or any index out of range, clears the selection); returns the index
  // selected, -1 when none.
  int SetCurSel(int index);
  std::string GetLBText(int index) const;
  void ResetContent();
};

class CSliderCtrl : public CWndHandle {
 public:
  const char* ClassName() const override { return "CSliderCtrl"; }
  bool Attach(QWidget* widget) override;
  QSlider* Widget() const;
  // redraw false: the slider repaints only at its next paint.
  void SetRange(int minimum, int maximum, bool redraw = false);
  int GetRangeMin() const;
  int GetRangeMax() const;
  void SetTicFreq(int frequency);
  int GetPos() const;
  // Clamps to the range.
  void SetPos(int position);
};

// Check box and radio button with their text on the left, drawn as such a button is on
// Windows: the text starts at the control's left edge, the box sits at its right edge, so the
// texts of buttons stacked above each other line up whatever their lengths. The whole control
// takes the click.
class LeftTextCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

class LeftTextRadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

// Makes assistive technologies read a drop-down list by its name (the caption of the label
// before it) with its selected entry as the value, as they do for edit boxes and sliders;
// Qt's own list gives its selected entry as its name on Linux. Once per program; GUI thread.
void InstallControlAccessibility();

// The tab control widget: a tab bar over a framed area in which the owner places its pages by
// hand. Pages are its direct children.
class TabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TabControl(QWidget* parent = nullptr);
  QTabBar* TabBar() const { return m_tabBar; }

 signals:
  // The user chose another tab (never emitted for a selection made by the program).
  void selectionChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTabBar* m_tabBar;
};

class CTabCtrl : public CWndHandle {
 public:
  const char* ClassName() const override { return "CTabCtrl"; }
  bool Attach(QWidget* widget) override;
  TabControl* Widget() const;
  // Inserts a tab at position (clamped to 0..count); returns its index, -1 when not attached.
  int InsertItem(int position, const std::string& text);
  int GetItemCount() const;
  std::string GetItemText(int index) const;
  int GetCurSel() const;
  // Selects a tab without the selection-changed notification; returns the previous selection.
  int SetCurSel(int index);
};

}  // namespace lumivex::ui
