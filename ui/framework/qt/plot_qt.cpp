// The plot control under Qt: a widget that paints its model with a QPainter.
#include <QLine>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include "ui/framework/plot_control.h"
#include "ui/framework/qt/controls_qt.h"

namespace lumivex::ui {

namespace {

QColor Colour(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

uint32_t Rgb(const QColor& colour) {
  return static_cast<uint32_t>(colour.red()) << 16 | static_cast<uint32_t>(colour.green()) << 8 |
         static_cast<uint32_t>(colour.blue());
}

class QtPlotPainter : public PlotPainter {
 public:
  QtPlotPainter(QWidget* widget, std::vector<QLine>& lines)
      : m_widget(widget), m_painter(widget), m_metrics(m_painter.fontMetrics()), m_lines(lines) {}

  int TextHeight() override { return m_metrics.height(); }
  int TextWidth(const std::string& text) override {
    return m_metrics.horizontalAdvance(QString::fromStdString(text));
  }
  uint32_t BaseColour() override { return Rgb(m_widget->palette().color(QPalette::Base)); }
  uint32_t TextColour() override { return Rgb(m_widget->palette().color(QPalette::Text)); }
  void FillRect(const Rect& rect, uint32_t rgb) override {
    m_painter.fillRect(QRect(rect.x, rect.y, rect.width, rect.height), Colour(rgb));
  }
  void FrameRect(const Rect& rect, uint32_t rgb) override {
    m_painter.setPen(Colour(rgb));
    m_painter.setBrush(Qt::NoBrush);
    m_painter.drawRect(QRect(rect.x, rect.y, rect.width - 1, rect.height - 1));
  }
  void Lines(const std::vector<PlotSegment>& segments, uint32_t rgb, int width,
             bool dashed) override {
    m_painter.setPen(QPen(Colour(rgb), width, dashed ? Qt::DashLine : Qt::SolidLine));
    m_lines.clear();
    for (const PlotSegment& s : segments) m_lines.emplace_back(s.x1, s.y1, s.x2, s.y2);
    m_painter.drawLines(m_lines.data(), static_cast<int>(m_lines.size()));
  }
  void Text(const Rect& rect, const std::string& text, uint32_t rgb, Align align, VAlign valign,
            bool wrap) override {
    int flags = align == Align::kLeft     ? Qt::AlignLeft
                : align == Align::kCentre ? Qt::AlignHCenter
                                          : Qt::AlignRight;
    flags |= valign == VAlign::kTop      ? Qt::AlignTop
             : valign == VAlign::kCentre ? Qt::AlignVCenter
                                         : Qt::AlignBottom;
    if (wrap) flags |= Qt::TextWordWrap;
    m_painter.setPen(Colour(rgb));
    m_painter.drawText(QRect(rect.x, rect.y, rect.width, rect.height), flags,
                       QString::fromStdString(text));
  }
  void Clip(const Rect& rect) override {
    m_painter.setClipRect(QRect(rect.x, rect.y, rect.width, rect.height));
  }
  void ClearClip() override { m_painter.setClipping(false); }

 private:
  QWidget* m_widget;
  QPainter m_painter;
  QFontMetrics m_metrics;
  std::vector<QLine>& m_lines;
};

PlotWidget* PlotOf(QWidget* widget) {
  return static_cast<PlotWidget*>(widget);
}

}  // namespace

PlotWidget::PlotWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void PlotWidget::paintEvent(QPaintEvent* /*event*/) {
  // Kept between paints: a paint allocates nothing once the size is stable.
  static std::vector<QLine> lines;
  QtPlotPainter painter(this, lines);
  m_model.Paint(painter, ClientSize());
}

// ----- CPlotCtrl: what depends on the control's window

bool CPlotCtrl::Attach(NativeWindow widget) {
  if (!qobject_cast<PlotWidget*>(widget)) return false;
  m_widget = widget;
  return true;
}

PlotModel* CPlotCtrl::Model() const {
  return m_widget ? &PlotOf(m_widget)->Model() : nullptr;
}

void CPlotCtrl::Invalidate() {
  if (m_widget) m_widget->update();
}

Rect CPlotCtrl::PlotArea() const {
  return m_widget ? Model()->PlotArea(PlotOf(m_widget)->ClientSize()) : Rect{};
}

int CPlotCtrl::XToPixel(double x) const {
  return m_widget ? Model()->XToPixel(x, PlotOf(m_widget)->ClientSize()) : 0;
}

int CPlotCtrl::YToPixel(double y) const {
  return m_widget ? Model()->YToPixel(y, PlotOf(m_widget)->ClientSize()) : 0;
}

}  // namespace lumivex::ui
