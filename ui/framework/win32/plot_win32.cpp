// The plot control under Win32: a window class of ours that paints its model through GDI into
// an off-screen bitmap, so a repaint never flickers.
#include <algorithm>
#include <memory>

#include "ui/framework/plot_control.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

using win32::Widen;

namespace {

constexpr wchar_t kPlotClass[] = L"LumivexPlot";

COLORREF Colour(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

uint32_t Rgb(COLORREF colour) {
  return static_cast<uint32_t>(GetRValue(colour)) << 16 |
         static_cast<uint32_t>(GetGValue(colour)) << 8 | static_cast<uint32_t>(GetBValue(colour));
}

RECT ToRect(const Rect& r) {
  return RECT{r.x, r.y, r.x + r.width, r.y + r.height};
}

class GdiPlotPainter : public PlotPainter {
 public:
  explicit GdiPlotPainter(HDC dc) : m_dc(dc) {
    m_oldFont = SelectObject(m_dc, win32::DialogFont());
    GetTextMetricsW(m_dc, &m_metrics);
    SetBkMode(m_dc, TRANSPARENT);
  }
  ~GdiPlotPainter() override {
    ClearClip();
    SelectObject(m_dc, m_oldFont);
  }
  GdiPlotPainter(const GdiPlotPainter&) = delete;
  GdiPlotPainter& operator=(const GdiPlotPainter&) = delete;

  int TextHeight() override { return m_metrics.tmHeight; }
  int TextWidth(const std::string& text) override {
    const std::wstring wide = Widen(text);
    SIZE size{};
    GetTextExtentPoint32W(m_dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size.cx;
  }
  uint32_t BaseColour() override { return Rgb(GetSysColor(COLOR_WINDOW)); }
  uint32_t TextColour() override { return Rgb(GetSysColor(COLOR_WINDOWTEXT)); }
  void FillRect(const Rect& rect, uint32_t rgb) override {
    const RECT r = ToRect(rect);
    SetDCBrushColor(m_dc, Colour(rgb));
    ::FillRect(m_dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  }
  void FrameRect(const Rect& rect, uint32_t rgb) override {
    const RECT r = ToRect(rect);
    SetDCBrushColor(m_dc, Colour(rgb));
    ::FrameRect(m_dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  }
  void Lines(const std::vector<PlotSegment>& segments, uint32_t rgb, int width,
             bool dashed) override {
    LOGBRUSH brush{BS_SOLID, Colour(rgb), 0};
    const DWORD style =
        PS_GEOMETRIC | (dashed ? PS_DASH : PS_SOLID) | PS_ENDCAP_FLAT | PS_JOIN_MITER;
    HPEN pen = ExtCreatePen(style, static_cast<DWORD>(std::max(width, 1)), &brush, 0, nullptr);
    HGDIOBJ old = SelectObject(m_dc, pen);
    for (const PlotSegment& s : segments) {
      MoveToEx(m_dc, s.x1, s.y1, nullptr);
      LineTo(m_dc, s.x2, s.y2);
      // LineTo leaves out the last pixel; a segment of one point must still show.
      if (s.x1 == s.x2 && s.y1 == s.y2) LineTo(m_dc, s.x2 + 1, s.y2);
    }
    SelectObject(m_dc, old);
    DeleteObject(pen);
  }
  void Text(const Rect& rect, const std::string& text, uint32_t rgb, Align align, VAlign valign,
            bool wrap) override {
    const std::wstring wide = Widen(text);
    RECT r = ToRect(rect);
    UINT flags = DT_NOPREFIX;
    flags |= align == Align::kLeft ? DT_LEFT : align == Align::kCentre ? DT_CENTER : DT_RIGHT;
    if (wrap) {
      flags |= DT_WORDBREAK;
      if (valign != VAlign::kTop) {
        // DrawText places only single lines vertically: measure the block first.
        RECT measured = r;
        DrawTextW(m_dc, wide.c_str(), static_cast<int>(wide.size()), &measured,
                  flags | DT_CALCRECT);
        const int height = measured.bottom - measured.top;
        const int free = (r.bottom - r.top) - height;
        if (free > 0) r.top += valign == VAlign::kCentre ? free / 2 : free;
      }
    } else {
      flags |= DT_SINGLELINE | (valign == VAlign::kTop      ? DT_TOP
                                : valign == VAlign::kCentre ? DT_VCENTER
                                                            : DT_BOTTOM);
    }
    SetTextColor(m_dc, Colour(rgb));
    DrawTextW(m_dc, wide.c_str(), static_cast<int>(wide.size()), &r, flags);
  }
  void Clip(const Rect& rect) override {
    HRGN region = CreateRectRgn(rect.x, rect.y, rect.x + rect.width, rect.y + rect.height);
    SelectClipRgn(m_dc, region);
    DeleteObject(region);
  }
  void ClearClip() override { SelectClipRgn(m_dc, nullptr); }

 private:
  HDC m_dc;
  HGDIOBJ m_oldFont;
  TEXTMETRICW m_metrics{};
};

struct PlotWindow {
  PlotModel model;
};

PlotWindow* PlotOf(HWND w) {
  return w != nullptr ? reinterpret_cast<PlotWindow*>(GetWindowLongPtrW(w, 0)) : nullptr;
}

Size ClientSizeOf(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  return Size{r.right - r.left, r.bottom - r.top};
}

void PaintPlot(HWND hwnd, HDC dc) {
  const Size size = ClientSizeOf(hwnd);
  PlotWindow* plot = PlotOf(hwnd);
  if (plot == nullptr || size.width <= 0 || size.height <= 0) return;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, size.width, size.height);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  {
    GdiPlotPainter painter(memory);
    plot->model.Paint(painter, size);
  }
  BitBlt(dc, 0, 0, size.width, size.height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

LRESULT CALLBACK PlotProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(new PlotWindow));
      break;
    case WM_NCDESTROY:
      delete PlotOf(hwnd);
      SetWindowLongPtrW(hwnd, 0, 0);
      break;
    case WM_ERASEBKGND:
      // The paint covers every pixel.
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(hwnd, &paint);
      PaintPlot(hwnd, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      // PrintWindow (screenshots, magnifiers) asks for the picture in its own device context.
      PaintPlot(hwnd, reinterpret_cast<HDC>(wp));
      return 0;
    case WM_SIZE:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wp, lp);
}

}  // namespace

namespace win32 {

const wchar_t* PlotClassName() {
  static const bool registered = [] {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = &PlotProc;
    cls.cbWndExtra = sizeof(LONG_PTR);
    cls.hInstance = Instance();
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = kPlotClass;
    return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  (void)registered;
  return kPlotClass;
}

}  // namespace win32

// ----- CPlotCtrl: what depends on the control's window

bool CPlotCtrl::Attach(NativeWindow control) {
  if (PlotOf(control) == nullptr) return false;
  wchar_t name[32] = {};
  GetClassNameW(control, name, 32);
  if (lstrcmpiW(name, kPlotClass) != 0) return false;
  m_widget = control;
  return true;
}

PlotModel* CPlotCtrl::Model() const {
  PlotWindow* plot = PlotOf(m_widget);
  return plot != nullptr ? &plot->model : nullptr;
}

void CPlotCtrl::Invalidate() {
  // Several setters in a row make one paint.
  if (m_widget != nullptr) InvalidateRect(m_widget, nullptr, FALSE);
}

Rect CPlotCtrl::PlotArea() const {
  return m_widget != nullptr ? Model()->PlotArea(ClientSizeOf(m_widget)) : Rect{};
}

int CPlotCtrl::XToPixel(double x) const {
  return m_widget != nullptr ? Model()->XToPixel(x, ClientSizeOf(m_widget)) : 0;
}

int CPlotCtrl::YToPixel(double y) const {
  return m_widget != nullptr ? Model()->YToPixel(y, ClientSizeOf(m_widget)) : 0;
}

}  // namespace lumivex::ui
