#include "ui/framework/plot_control.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace lumivex::ui {

namespace {

constexpr int kLeftMargin = 44;    // y tick labels
constexpr int kBottomMargin = 38;  // x tick labels and the x unit
constexpr int kTopMargin = 22;     // the y unit above the axis
constexpr int kLegendWidth = 118;
constexpr int kLegendSwatch = 18;
constexpr int kTickLength = 4;
constexpr int kXTicks = 6;
constexpr int kYTicks = 6;
// A flat line still gets a few degrees of room, so noise of one degree does not fill the plot.
constexpr double kMinYSpan = 4.0;
constexpr uint32_t kGridColour = 0xE4E4E4;
constexpr uint32_t kAxisColour = 0x505050;
constexpr uint32_t kLimitColour = 0xE00080;
constexpr char kEllipsis[] = "\u2026";

std::string TickText(double value, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
  // -0 reads as a value below zero.
  if (std::abs(value) < step / 1000) value = 0;
  // Written the same whatever the desktop's number format.
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, end.ptr);
}

int Right(const Rect& r) {
  return r.x + r.width - 1;
}

int Bottom(const Rect& r) {
  return r.y + r.height - 1;
}

// Cuts text at its end, by whole characters, until it fits width with an ellipsis after it.
std::string ElideRight(PlotPainter& painter, const std::string& text, int width) {
  if (painter.TextWidth(text) <= width) return text;
  std::string kept = text;
  while (!kept.empty()) {
    // Drops the last UTF-8 sequence.
    std::size_t end = kept.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(kept[end]) & 0xC0) == 0x80) --end;
    kept.resize(end);
    if (painter.TextWidth(kept + kEllipsis) <= width) return kept + kEllipsis;
  }
  return painter.TextWidth(kEllipsis) <= width ? std::string(kEllipsis) : std::string();
}

}  // namespace

std::vector<double> AxisTicks(double from, double to, int count) {
  std::vector<double> ticks;
  if (!(to > from) || count < 1 || !std::isfinite(from) || !std::isfinite(to)) return ticks;
  const double rough = (to - from) / count;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  for (double v = std::ceil(from / step) * step; v <= to + step * 1e-9; v += step) {
    ticks.push_back(v);
  }
  return ticks;
}

// ----- PlotModel

void PlotModel::SetXRange(double from, double to) {
  m_xFrom = from;
  m_xTo = to > from ? to : from + 1;
}

void PlotModel::SetAxisUnits(std::string x, std::string y) {
  m_xUnit = std::move(x);
  m_yUnit = std::move(y);
}

Rect PlotModel::PlotArea(Size size) const {
  return Rect{kLeftMargin, kTopMargin, std::max(1, size.width - kLeftMargin - kLegendWidth),
              std::max(1, size.height - kTopMargin - kBottomMargin)};
}

int PlotModel::XToPixel(double x, Size size) const {
  const Rect area = PlotArea(size);
  return area.x +
         static_cast<int>(std::lround((x - m_xFrom) / (m_xTo - m_xFrom) * (area.width - 1)));
}

int PlotModel::YToPixel(double y, Size size) const {
  const Rect area = PlotArea(size);
  return Bottom(area) -
         static_cast<int>(std::lround((y - m_yFrom) / (m_yTo - m_yFrom) * (area.height - 1)));
}

void PlotModel::FitYRange() {
  double low = INFINITY;
  double high = -INFINITY;
  for (const auto& line : m_columns) {
    for (const PlotColumnValues& c : line) {
      if (!c.any) continue;
      low = std::min(low, c.min);
      high = std::max(high, c.max);
    }
  }
  if (m_limit) {
    low = std::min(low, *m_limit);
    high = std::max(high, *m_limit);
  }
  if (!std::isfinite(low)) {
    low = 20;
    high = 40;
  }
  if (high - low < kMinYSpan) {
    const double middle = (high + low) / 2;
    low = middle - kMinYSpan / 2;
    high = middle + kMinYSpan / 2;
  }
  // A margin of a tenth keeps the extremes off the frame; the ends round to whole degrees.
  const double pad = (high - low) / 10;
  m_yFrom = std::floor(low - pad);
  m_yTo = std::ceil(high + pad);
}

void PlotModel::Paint(PlotPainter& painter, Size size) {
  using Align = PlotPainter::Align;
  using VAlign = PlotPainter::VAlign;
  painter.FillRect(Rect{0, 0, size.width, size.height}, painter.BaseColour());
  const Rect area = PlotArea(size);
  const auto columnCount = static_cast<std::size_t>(area.width);

  m_columns.resize(m_lines.size());
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    m_columns[i].assign(columnCount, PlotColumnValues{});
    if (m_source) m_source(i, m_xFrom, m_xTo, m_columns[i]);
  }
  FitYRange();

  const int textHeight = painter.TextHeight();
  // Grid and tick labels.
  const std::vector<double> yTicks = AxisTicks(m_yFrom, m_yTo, kYTicks);
  const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1;
  for (double y : yTicks) {
    const int py = YToPixel(y, size);
    painter.Lines({{area.x, py, Right(area), py}}, kGridColour, 1);
    painter.Lines({{area.x - kTickLength, py, area.x, py}}, kAxisColour, 1);
    painter.Text(Rect{0, py - textHeight / 2, area.x - kTickLength - 3, textHeight},
                 TickText(y, yStep), kAxisColour, Align::kRight, VAlign::kCentre);
  }
  const std::vector<double> xTicks = AxisTicks(m_xFrom, m_xTo, kXTicks);
  const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1;
  for (double x : xTicks) {
    const int px = XToPixel(x, size);
    painter.Lines({{px, area.y, px, Bottom(area)}}, kGridColour, 1);
    painter.Lines({{px, Bottom(area), px, Bottom(area) + kTickLength}}, kAxisColour, 1);
    painter.Text(Rect{px - 40, Bottom(area) + kTickLength + 1, 80, textHeight}, TickText(x, xStep),
                 kAxisColour, Align::kCentre, VAlign::kTop);
  }
  painter.Text(Rect{area.x, size.height - textHeight - 1, area.width, textHeight}, m_xUnit,
               kAxisColour, Align::kCentre, VAlign::kBottom);
  painter.Text(Rect{2, 0, size.width / 2, area.y - 3}, m_yUnit, kAxisColour, Align::kLeft,
               VAlign::kBottom);
  painter.FrameRect(area, kAxisColour);

  // The lines: per column a stroke from its lowest to its highest value, joined to the column
  // the line comes from. Both kinds of segment go to the painter in one call per line.
  painter.Clip(area);
  m_segments.reserve(columnCount * 2);
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    m_segments.clear();
    const std::vector<PlotColumnValues>& line = m_columns[i];
    for (std::size_t c = 0; c < line.size(); ++c) {
      const PlotColumnValues& column = line[c];
      if (!column.any) continue;
      const int x = area.x + static_cast<int>(c);
      m_segments.push_back({x, YToPixel(column.min, size), x, YToPixel(column.max, size)});
      if (column.joinFrom >= 0 && static_cast<std::size_t>(column.joinFrom) < c) {
        const PlotColumnValues& from = line[static_cast<std::size_t>(column.joinFrom)];
        m_segments.push_back(
            {area.x + column.joinFrom, YToPixel(from.last, size), x, YToPixel(column.first, size)});
      }
    }
    painter.Lines(m_segments, m_lines[i].rgb, 2);
  }
  if (m_limit) {
    const int py = YToPixel(*m_limit, size);
    painter.Lines({{area.x, py, Right(area), py}}, kLimitColour, 1, true);
  }
  painter.ClearClip();

  bool anyValue = false;
  for (const auto& line : m_columns) {
    anyValue = anyValue || std::any_of(line.begin(), line.end(), [](auto& c) { return c.any; });
  }
  if (!anyValue && !m_emptyText.empty()) {
    painter.Text(area, m_emptyText, kAxisColour, Align::kCentre, VAlign::kCentre, true);
  }

  // The legend: swatch, name and latest value of each line.
  const int legendLeft = Right(area) + 12;
  const uint32_t textColour = painter.TextColour();
  int y = area.y;
  for (const PlotLine& line : m_lines) {
    painter.Lines(
        {{legendLeft, y + textHeight / 2, legendLeft + kLegendSwatch - 4, y + textHeight / 2}},
        line.rgb, 3);
    const int textLeft = legendLeft + kLegendSwatch;
    const int textWidth = size.width - textLeft - 2;
    // The value on a line of its own: names differ in length from one language to another.
    painter.Text(Rect{textLeft, y, textWidth, textHeight},
                 ElideRight(painter, line.name, textWidth), textColour, Align::kLeft, VAlign::kTop);
    painter.Text(Rect{textLeft, y + textHeight, textWidth, textHeight}, line.latest, textColour,
                 Align::kLeft, VAlign::kTop);
    y += 2 * textHeight + 8;
  }
}

// ----- CPlotCtrl: what does not depend on the control's window

void CPlotCtrl::SetSource(PlotModel::ColumnSource source) {
  if (PlotModel* model = Model()) {
    model->SetSource(std::move(source));
    Invalidate();
  }
}

void CPlotCtrl::SetLines(std::vector<PlotLine> lines) {
  if (PlotModel* model = Model()) {
    model->SetLines(std::move(lines));
    Invalidate();
  }
}

const std::vector<PlotLine>& CPlotCtrl::Lines() const {
  static const std::vector<PlotLine> none;
  const PlotModel* model = Model();
  return model ? model->Lines() : none;
}

void CPlotCtrl::SetXRange(double from, double to) {
  if (PlotModel* model = Model()) {
    model->SetXRange(from, to);
    Invalidate();
  }
}

void CPlotCtrl::SetAxisUnits(std::string x, std::string y) {
  if (PlotModel* model = Model()) {
    model->SetAxisUnits(std::move(x), std::move(y));
    Invalidate();
  }
}

void CPlotCtrl::SetLimit(std::optional<double> value) {
  if (PlotModel* model = Model()) {
    model->SetLimit(value);
    Invalidate();
  }
}

std::optional<double> CPlotCtrl::Limit() const {
  const PlotModel* model = Model();
  return model ? model->Limit() : std::nullopt;
}

void CPlotCtrl::SetEmptyText(std::string text) {
  if (PlotModel* model = Model()) {
    model->SetEmptyText(std::move(text));
    Invalidate();
  }
}

}  // namespace lumivex::ui
