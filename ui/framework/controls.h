// Control objects that a dialog attaches to its controls with DDX_Control, the way a page keeps
// its edit box, list or slider at hand. Before they are attached every call does nothing and
// returns the "none" value (-1, 0 or ""). The API is the backend's (native.h) to carry out; no
// toolkit type appears here. GUI thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ui/framework/types.h"

namespace lumivex::ui {

class CDialog;

class CWndHandle {
 public:
  virtual ~CWndHandle() = default;
  NativeWindow GetSafeWnd() const { return m_widget; }
  bool IsAttached() const { return m_widget != nullptr; }
  void EnableWindow(bool enable);
  void ShowWindow(bool show);
  // The class name this handle gives its control; window translation leaves "CEdit" alone.
  virtual const char* ClassName() const = 0;
  // Attaches to a control, which must be of the handle's kind; false when it is not.
  virtual bool Attach(NativeWindow control) = 0;

 protected:
  NativeWindow m_widget = nullptr;
};

class CEdit : public CWndHandle {
 public:
  const char* ClassName() const override { return "CEdit"; }
  bool Attach(NativeWindow control) override;
  std::string GetWindowText() const;
  // As the program sets it: a typing limit never refuses or cuts it.
  void SetWindowText(const std::string& text);
  // Limits what the user can type to maxBytes bytes of UTF-8; a longer text already in the box
  // stays as it is (it can be shortened, not lengthened). 0 removes the limit.
  void SetLimitText(int maxBytes);
  // Selects the whole text.
  void SelectAll();
};

class CComboBox : public CWndHandle {
 public:
  const char* ClassName() const override { return "CComboBox"; }
  bool Attach(NativeWindow control) override;
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
  bool Attach(NativeWindow control) override;
  // redraw false: the slider repaints only at its next paint.
  void SetRange(int minimum, int maximum, bool redraw = false);
  int GetRangeMin() const;
  int GetRangeMax() const;
  void SetTicFreq(int frequency);
  int GetPos() const;
  // Clamps to the range.
  void SetPos(int position);
};

class CTabCtrl : public CWndHandle {
 public:
  const char* ClassName() const override { return "CTabCtrl"; }
  bool Attach(NativeWindow control) override;
  // Inserts a tab at position (clamped to 0..count); returns its index, -1 when not attached.
  int InsertItem(int position, const std::string& text);
  int GetItemCount() const;
  std::string GetItemText(int index) const;
  int GetCurSel() const;
  // Selects a tab without the selection-changed notification; returns the previous selection.
  int SetCurSel(int index);
};

// A read-only view of many lines in a fixed-width font, scrolled to its end as lines arrive
// unless the user has scrolled up (template kind TEXTVIEW). Keeps at most MaxLines lines,
// dropping the oldest.
class CTextView : public CWndHandle {
 public:
  const char* ClassName() const override { return "CTextView"; }
  bool Attach(NativeWindow control) override;
  void SetMaxLines(std::size_t maxLines);
  void AppendLines(const std::vector<std::string>& lines);
  void Clear();
  // Every line shown, oldest first.
  std::vector<std::string> Lines() const;
  // The lines the user has selected, or every line when nothing is selected, joined by "\n".
  std::string SelectedOrAllText() const;
};

// The line at the bottom of a window that says what the window is doing. It is not in the
// template: Create adds it to a dialog, and the owner places it. A text too wide for it is cut
// in the middle ("COM3 … firmware 1000B"); the whole text is its tooltip and its accessible name.
class CStatusLine {
 public:
  CStatusLine() = default;
  ~CStatusLine();
  CStatusLine(const CStatusLine&) = delete;
  CStatusLine& operator=(const CStatusLine&) = delete;
  void Create(CDialog& owner);
  bool IsCreated() const { return m_widget != nullptr; }
  // The height the line needs for one line of the dialog font.
  int Height() const;
  void MoveWindow(const Rect& rect);
  void SetText(const std::string& text);
  // The whole text, as set.
  const std::string& Text() const { return m_text; }
  // What the line shows now (elided when too wide).
  std::string ShownText() const;
  NativeWindow GetSafeWnd() const { return m_widget; }

 private:
  NativeWindow m_widget = nullptr;
  std::string m_text;
};

}  // namespace lumivex::ui
