// The plot control: lines of values against time, drawn by the framework with the toolkit's own
// painter (QPainter here; GDI in the Win32 backend). It never holds the data: at each paint it
// asks its source for one column per pixel of the plot area, so drawing costs the same for ten
// minutes as for a day of readings. GUI thread only.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

class PlotControl : public QWidget {
  Q_OBJECT
 public:
  explicit PlotControl(QWidget* parent = nullptr);

  // Fills columns for line over x in [from, to]; every column starts empty.
  using ColumnSource =
      std::function<void(std::size_t line, double from, double to, std::span<PlotColumnValues>)>;
  void SetSource(ColumnSource source);
  void SetLines(std::vector<PlotLine> lines);
  const std::vector<PlotLine>& Lines() const { return m_lines; }
  // The x range shown, in x units.
  void SetXRange(double from, double to);
  // Axis captions: units of x and y ("min", "°C").
  void SetAxisUnits(std::string x, std::string y);
  // A horizontal line at value, always inside the y range; empty removes it.
  void SetLimit(std::optional<double> value);
  std::optional<double> Limit() const { return m_limit; }
  // The text shown when no line has a value in the range.
  void SetEmptyText(std::string text);

  // Where the plot draws, for tests and screenshots: the plot area in widget pixels, and the
  // pixel row of a y value after the last paint (the y range follows the data).
  QRect PlotArea() const;
  int YToPixel(double y) const;
  int XToPixel(double x) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void FitYRange(const std::vector<std::vector<PlotColumnValues>>& columns);

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
};

// Round steps for an axis from `from` to `to` with about `count` ticks: 1, 2 or 5 times a power
// of ten. The ticks lie inside the range.
std::vector<double> AxisTicks(double from, double to, int count);

}  // namespace lumivex::ui
