// The dialog font and its base units, as the dialog manager computes them for a template with
// DS_SETFONT, so that MapDialogRect here and the controls the dialog manager places agree.
#include "ui/framework/dialog_units.h"
#include "ui/framework/win32/internal.h"
#include "ui/framework/win32/template_win32.h"

namespace lumivex::ui {

namespace win32 {

namespace {

HFONT MakeFont(const wchar_t* face, BYTE pitchAndFamily) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTW font{};
  // Negative: the character height, as the dialog manager asks for a template's point size.
  font.lfHeight = -MulDiv(kDialogPointSize, dpi, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = pitchAndFamily;
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

}  // namespace

HFONT DialogFont() {
  static HFONT font = MakeFont(DialogFaceName().c_str(), DEFAULT_PITCH | FF_DONTCARE);
  return font;
}

HFONT FixedFont() {
  // Consolas where it exists; else the font mapper's fixed-pitch choice (Courier New, or
  // whatever monospaced face Wine has).
  static HFONT font = MakeFont(L"Consolas", FIXED_PITCH | FF_MODERN);
  return font;
}

SIZE MeasureBaseUnits(HFONT font) {
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SIZE extent{};
  GetTextExtentPoint32W(dc, kLetters, 52, &extent);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  SIZE base{(extent.cx / 26 + 1) / 2, metrics.tmHeight};
  if (base.cx < 1) base.cx = 1;
  if (base.cy < 1) base.cy = 1;
  return base;
}

}  // namespace win32

DialogBaseUnits DialogUnits() {
  static const DialogBaseUnits base = [] {
    const SIZE s = win32::MeasureBaseUnits(win32::DialogFont());
    return DialogBaseUnits{s.cx, s.cy};
  }();
  return base;
}

}  // namespace lumivex::ui
