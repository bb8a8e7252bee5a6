#include "ui/framework/plot_control.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
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
const QColor kGridColour(0xE4, 0xE4, 0xE4);
const QColor kAxisColour(0x50, 0x50, 0x50);
const QColor kLimitColour(0xE0, 0x00, 0x80);

QColor Rgb(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QString TickText(double value, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
  // -0 reads as a value below zero.
  if (std::abs(value) < step / 1000) value = 0;
  return QString::number(value, 'f', decimals);
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

PlotControl::PlotControl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void PlotControl::SetSource(ColumnSource source) {
  m_source = std::move(source);
  update();
}

void PlotControl::SetLines(std::vector<PlotLine> lines) {
  m_lines = std::move(lines);
  update();
}

void PlotControl::SetXRange(double from, double to) {
  m_xFrom = from;
  m_xTo = to > from ? to : from + 1;
  update();
}

void PlotControl::SetAxisUnits(std::string x, std::string y) {
  m_xUnit = std::move(x);
  m_yUnit = std::move(y);
  update();
}

void PlotControl::SetLimit(std::optional<double> value) {
  m_limit = value;
  update();
}

void PlotControl::SetEmptyText(std::string text) {
  m_emptyText = std::move(text);
  update();
}

QRect PlotControl::PlotArea() const {
  return QRect(kLeftMargin, kTopMargin, std::max(1, width() - kLeftMargin - kLegendWidth),
               std::max(1, height() - kTopMargin - kBottomMargin));
}

int PlotControl::XToPixel(double x) const {
  const QRect area = PlotArea();
  return area.left() +
         static_cast<int>(std::lround((x - m_xFrom) / (m_xTo - m_xFrom) * (area.width() - 1)));
}

int PlotControl::YToPixel(double y) const {
  const QRect area = PlotArea();
  return area.bottom() -
         static_cast<int>(std::lround((y - m_yFrom) / (m_yTo - m_yFrom) * (area.height() - 1)));
}

void PlotControl::FitYRange(const std::vector<std::vector<PlotColumnValues>>& columns) {
  double low = INFINITY;
  double high = -INFINITY;
  for (const auto& line : columns) {
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

void PlotControl::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  const QRect area = PlotArea();
  const auto columnCount = static_cast<std::size_t>(area.width());

  m_columns.resize(m_lines.size());
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    m_columns[i].assign(columnCount, PlotColumnValues{});
    if (m_source) m_source(i, m_xFrom, m_xTo, m_columns[i]);
  }
  FitYRange(m_columns);

  const QFontMetrics metrics = painter.fontMetrics();
  // Grid and tick labels.
  const std::vector<double> yTicks = AxisTicks(m_yFrom, m_yTo, kYTicks);
  const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1;
  for (double y : yTicks) {
    const int py = YToPixel(y);
    painter.setPen(kGridColour);
    painter.drawLine(area.left(), py, area.right(), py);
    painter.setPen(kAxisColour);
    painter.drawLine(area.left() - kTickLength, py, area.left(), py);
    const QString text = TickText(y, yStep);
    painter.drawText(
        QRect(0, py - metrics.height() / 2, area.left() - kTickLength - 3, metrics.height()),
        Qt::AlignRight | Qt::AlignVCenter, text);
  }
  const std::vector<double> xTicks = AxisTicks(m_xFrom, m_xTo, kXTicks);
  const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1;
  for (double x : xTicks) {
    const int px = XToPixel(x);
    painter.setPen(kGridColour);
    painter.drawLine(px, area.top(), px, area.bottom());
    painter.setPen(kAxisColour);
    painter.drawLine(px, area.bottom(), px, area.bottom() + kTickLength);
    painter.drawText(QRect(px - 40, area.bottom() + kTickLength + 1, 80, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignTop, TickText(x, xStep));
  }
  painter.setPen(kAxisColour);
  painter.drawText(
      QRect(area.left(), height() - metrics.height() - 1, area.width(), metrics.height()),
      Qt::AlignHCenter | Qt::AlignBottom, QString::fromStdString(m_xUnit));
  painter.drawText(QRect(2, 0, width() / 2, area.top() - 3), Qt::AlignLeft | Qt::AlignBottom,
                   QString::fromStdString(m_yUnit));
  painter.drawRect(area.adjusted(0, 0, -1, -1));

  // The lines: per column a stroke from its lowest to its highest value, joined to the column
  // the line comes from. Both kinds of segment go to the painter in one call per line.
  painter.setClipRect(area);
  std::vector<QLine> segments;
  segments.reserve(columnCount * 2);
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    segments.clear();
    const std::vector<PlotColumnValues>& line = m_columns[i];
    for (std::size_t c = 0; c < line.size(); ++c) {
      const PlotColumnValues& column = line[c];
      if (!column.any) continue;
      const int x = area.left() + static_cast<int>(c);
      segments.emplace_back(x, YToPixel(column.min), x, YToPixel(column.max));
      if (column.joinFrom >= 0 && static_cast<std::size_t>(column.joinFrom) < c) {
        const PlotColumnValues& from = line[static_cast<std::size_t>(column.joinFrom)];
        segments.emplace_back(area.left() + column.joinFrom, YToPixel(from.last), x,
                              YToPixel(column.first));
      }
    }
    painter.setPen(QPen(Rgb(m_lines[i].rgb), 2));
    painter.drawLines(segments.data(), static_cast<int>(segments.size()));
  }
  if (m_limit) {
    QPen pen(kLimitColour, 1, Qt::DashLine);
    painter.setPen(pen);
    const int py = YToPixel(*m_limit);
    painter.drawLine(area.left(), py, area.right(), py);
  }
  painter.setClipping(false);

  bool anyValue = false;
  for (const auto& line : m_columns) {
    anyValue = anyValue || std::any_of(line.begin(), line.end(), [](auto& c) { return c.any; });
  }
  if (!anyValue && !m_emptyText.empty()) {
    painter.setPen(kAxisColour);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QString::fromStdString(m_emptyText));
  }

  // The legend: swatch, name and latest value of each line.
  const int legendLeft = area.right() + 12;
  int y = area.top();
  for (const PlotLine& line : m_lines) {
    painter.setPen(QPen(Rgb(line.rgb), 3));
    painter.drawLine(legendLeft, y + metrics.height() / 2, legendLeft + kLegendSwatch - 4,
                     y + metrics.height() / 2);
    painter.setPen(palette().color(QPalette::Text));
    const int textLeft = legendLeft + kLegendSwatch;
    const int textWidth = width() - textLeft - 2;
    // The value on a line of its own: names differ in length from one language to another.
    painter.drawText(
        QRect(textLeft, y, textWidth, metrics.height()), Qt::AlignLeft,
        metrics.elidedText(QString::fromStdString(line.name), Qt::ElideRight, textWidth));
    painter.drawText(QRect(textLeft, y + metrics.height(), textWidth, metrics.height()),
                     Qt::AlignLeft, QString::fromStdString(line.latest));
    y += 2 * metrics.height() + 8;
  }
}

}  // namespace lumivex::ui
