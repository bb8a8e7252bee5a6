// The plot control: lines of values against time (template kind PLOT). It never holds the data:
// at each paint it asks its source for one column per pixel of the plot area, so drawing costs
// the same for ten minutes as for a day of readings. What is drawn where is worked out here,
// once for both backends (PlotModel::Paint); a backend only carries out the drawing calls of a
// PlotPainter (QPainter under Qt, GDI under Win32). GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/framework/controls.h"
#include "ui/framework/types.h"

namespace lumivex::ui {

// What one pixel column shows of one line: the lowest and highest value in its span of x, the
// first and last (where the line enters and leaves), and the column the line comes from (-1: it
// starts here, a gap lies before).
struct PlotColumnValues {
  bool any = false;
  double min = 0;
  double max = 0;
  double first = 0;
  double last = 0;
  int joinFrom = -1;
};

struct PlotLine {
  std::string name;    // the legend's text, translated
  uint32_t rgb = 0;    // 0xRRGGBB
  std::string latest;  // shown beside the name ("25 °C", "----")
};

struct PlotSegment {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
};

// The drawing calls a plot needs, in control pixels. Colours are 0xRRGGBB.
class PlotPainter {
 public:
  enum class Align { kLeft, kCentre, kRight };
  enum class VAlign { kTop, kCentre, kBottom };
  virtual ~PlotPainter() = default;
  // The height of a line of the control's font, and the width of text in it.
  virtual int TextHeight() = 0;
  virtual int TextWidth(const std::string& text) = 0;
  // The background colour of an input field, and the text colour, of the desktop's scheme.
  virtual uint32_t BaseColour() = 0;
  virtual uint32_t TextColour() = 0;
  virtual void FillRect(const Rect& rect, uint32_t rgb) = 0;
  // An outline one pixel wide, inside rect.
  virtual void FrameRect(const Rect& rect, uint32_t rgb) = 0;
  virtual void Lines(const std::vector<PlotSegment>& segments, uint32_t rgb, int width,
                     bool dashed = false) = 0;
  // Text in rect; wrap breaks it at words over several lines.
  virtual void Text(const Rect& rect, const std::string& text, uint32_t rgb, Align align,
                    VAlign valign, bool wrap = false) = 0;
  // Drawing outside rect is cut off until ClearClip.
  virtual void Clip(const Rect& rect) = 0;
  virtual void ClearClip() = 0;
};

// Everything a plot shows, and how it is laid out in a control of a given size.
class PlotModel {
 public:
  // Fills columns for line over x in [from, to]; every column starts empty.
  using ColumnSource =
      std::function<void(std::size_t line, double from, double to, std::span<PlotColumnValues>)>;
  void SetSource(ColumnSource source) { m_source = std::move(source); }
  void SetLines(std::vector<PlotLine> lines) { m_lines = std::move(lines); }
  const std::vector<PlotLine>& Lines() const { return m_lines; }
  void SetXRange(double from, double to);
  void SetAxisUnits(std::string x, std::string y);
  void SetLimit(std::optional<double> value) { m_limit = value; }
  std::optional<double> Limit() const { return m_limit; }
  void SetEmptyText(std::string text) { m_emptyText = std::move(text); }

  // The plot area within a control of size, in its pixels.
  Rect PlotArea(Size size) const;
  // Pixel column of x and row of y in a control of size; y after the last Paint (the y range
  // follows the data).
  int XToPixel(double x, Size size) const;
  int YToPixel(double y, Size size) const;

  // Asks the source for the columns and draws the whole control.
  void Paint(PlotPainter& painter, Size size);

 private:
  void FitYRange();

  ColumnSource m_source;
  std::vector<PlotLine> m_lines;
  double m_xFrom = 0;
  double m_xTo = 1;
  double m_yFrom = 0;
  double m_yTo = 1;
  std::string m_xUnit;
  std::string m_yUnit;
  std::string m_emptyText;
  std::optional<double> m_limit;
  // Kept between paints: a paint allocates nothing once the size is stable.
  std::vector<std::vector<PlotColumnValues>> m_columns;
  std::vector<PlotSegment> m_segments;
};

// The plot control of a dialog, attached with DDX_Control. Each setter repaints.
class CPlotCtrl : public CWndHandle {
 public:
  const char* ClassName() const override { return "CPlotCtrl"; }
  bool Attach(NativeWindow control) override;
  void SetSource(PlotModel::ColumnSource source);
  void SetLines(std::vector<PlotLine> lines);
  const std::vector<PlotLine>& Lines() const;
  void SetXRange(double from, double to);
  void SetAxisUnits(std::string x, std::string y);
  void SetLimit(std::optional<double> value);
  std::optional<double> Limit() const;
  void SetEmptyText(std::string text);
  // Where the plot draws, for tests and screenshots.
  Rect PlotArea() const;
  int XToPixel(double x) const;
  int YToPixel(double y) const;
  // Repaints now rather than at the next paint.
  void Invalidate();
  // The model of the attached control (backends keep one per plot control).
  PlotModel* Model() const;
};

// Round steps for an axis from `from` to `to` with about `count` ticks: 1, 2 or 5 times a power
// of ten. The ticks lie inside the range.
std::vector<double> AxisTicks(double from, double to, int count);

}  // namespace lumivex::ui
