#include "dryrun/run_plot.h"

#include "dryrun/executor.h"
#include "dryrun/run_report.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kqm::dryrun {

namespace {

constexpr double LeftMargin = 64;
constexpr double RightMargin = 12;
constexpr double StripHeight = 12;

int stripsOf(const PlotData& data) {
    return data.traced ? 6 : 2;
}

QRectF positionArea(const QRectF& area, int strips) {
    return QRectF(area.left() + LeftMargin, area.top() + 8, area.width() - LeftMargin - RightMargin,
                  std::max(10.0, area.height() - 8 - strips * (StripHeight + 4) - 22));
}

// The curve as a line, per pixel column only where it enters, its lowest
// and highest, and where it leaves: no more is visible.
template <typename X, typename Y>
QPolygonF columnLine(const QList<QPointF>& points, const QRectF& plot, X x, Y y) {
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(plot.width()) * 4 + 4);
    int column = std::numeric_limits<int>::min();
    QPointF first, bottom, top, last;
    const auto flush = [&] {
        if (column == std::numeric_limits<int>::min())
            return;
        for (const QPointF& point : {first, bottom, top, last})
            if (line.isEmpty() || line.last() != point)
                line << point;
    };
    for (const QPointF& point : points) {
        const QPointF at(x(point.x()), y(point.y()));
        const int here = static_cast<int>(std::floor(at.x()));
        if (here != column) {
            flush();
            column = here;
            first = bottom = top = last = at;
            continue;
        }
        // Screen y grows downwards: the lowest position is the largest y.
        if (at.y() > bottom.y())
            bottom = at;
        if (at.y() < top.y())
            top = at;
        last = at;
    }
    flush();
    return line;
}

} // namespace

void addMeasured(PlotData& data, const QList<QPointF>& points,
                 const QList<QPair<double, int>>& inputs) {
    data.traced = true;
    data.measured = points;
    data.inputs = inputs;
    for (const QPointF& point : points) {
        data.low = std::min(data.low, static_cast<qint64>(point.y()));
        data.high = std::max(data.high, static_cast<qint64>(point.y()));
        data.span = std::max(data.span, point.x());
    }
    if (!inputs.isEmpty())
        data.span = std::max(data.span, inputs.last().first);
}

PlotData plotDataOf(const Executor& run) {
    PlotData data;
    data.points = positionPoints(run);
    data.outputs = outputChanges(run);
    data.end = run.now();
    data.span = data.points.isEmpty() ? data.end : std::max(data.end, data.points.last().x());
    data.estimated = run.timedByModel();
    data.low = run.lowest();
    data.high = run.highest();
    for (const QPointF& point : std::as_const(data.points)) {
        data.low = std::min(data.low, static_cast<qint64>(point.y()));
        data.high = std::max(data.high, static_cast<qint64>(point.y()));
    }
    return data;
}

void drawRunPlot(QPainter& painter, const QRectF& area, const PlotData& data, double cursor) {
    painter.fillRect(area, Qt::white);
    const QRectF plot = positionArea(area, stripsOf(data));
    const double span = std::max(data.span, 1e-3);
    const double low = static_cast<double>(data.low);
    const double high = data.high > data.low ? static_cast<double>(data.high) : low + 1;
    const auto x = [&](double time) {
        return plot.left() + plot.width() * time / span;
    };
    const auto y = [&](double position) {
        return plot.bottom() - plot.height() * (position - low) / (high - low);
    };
    painter.setPen(Qt::black);
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    const QFontMetricsF metrics(painter.font());
    const auto label = [&](const QString& text, double right, double baseline) {
        painter.drawText(QPointF(right - metrics.horizontalAdvance(text), baseline), text);
    };
    label(QString::number(static_cast<qint64>(high)), plot.left() - 4,
          plot.top() + metrics.ascent());
    label(QString::number(static_cast<qint64>(low)), plot.left() - 4, plot.bottom());
    // Beside a unit's readings, the time axis is the readings' and the model's.
    label(data.traced ? QStringLiteral("%1 s").arg(data.span, 0, 'f', 3)
                      : QStringLiteral("%1 s%2")
                            .arg(data.end, 0, 'f', 3)
                            .arg(data.estimated ? QStringLiteral(" estimated (model)") : QString()),
          plot.right(), plot.bottom() + metrics.height());
    painter.setPen(QPen(QColor(31, 95, 191), 1.5));
    painter.drawPolyline(columnLine(data.points, plot, x, y));
    if (data.traced) {
        painter.setPen(QPen(QColor(208, 32, 32), 1.5));
        painter.drawPolyline(columnLine(data.measured, plot, x, y));
        painter.setPen(QColor(31, 95, 191));
        const double unitWidth = metrics.horizontalAdvance(QStringLiteral(" unit"));
        label(QStringLiteral("model"), plot.right() - (data.measured.isEmpty() ? 0 : unitWidth),
              plot.top() + metrics.ascent());
        painter.setPen(QColor(208, 32, 32));
        if (!data.measured.isEmpty())
            label(QStringLiteral("unit"), plot.right(), plot.top() + metrics.ascent());
    }
    // The outputs, a strip each, filled while on.
    painter.setPen(Qt::black);
    for (int output = 0; output < 2; ++output) {
        const double top = plot.bottom() + metrics.height() + 6 + output * (StripHeight + 4);
        label(QStringLiteral("out %1").arg(output + 1), plot.left() - 4, top + StripHeight - 2);
        painter.drawRect(QRectF(plot.left(), top, plot.width(), StripHeight));
        for (qsizetype i = 0; i < data.outputs.size(); ++i) {
            if (!(data.outputs.at(i).second & (1 << output)))
                continue;
            const double to =
                i + 1 < data.outputs.size() ? data.outputs.at(i + 1).first : data.span;
            painter.fillRect(QRectF(x(data.outputs.at(i).first), top,
                                    std::max(1.0, x(to) - x(data.outputs.at(i).first)),
                                    StripHeight),
                             QColor(208, 128, 32));
        }
    }
    // The unit's inputs, a strip each, filled while on.
    for (int input = 0; data.traced && input < 4; ++input) {
        const double top = plot.bottom() + metrics.height() + 6 + (2 + input) * (StripHeight + 4);
        painter.setPen(Qt::black);
        label(QStringLiteral("in %1").arg(input + 1), plot.left() - 4, top + StripHeight - 2);
        painter.drawRect(QRectF(plot.left(), top, plot.width(), StripHeight));
        for (qsizetype i = 0; i < data.inputs.size(); ++i) {
            if (!(data.inputs.at(i).second & (1 << input)))
                continue;
            const double to = i + 1 < data.inputs.size() ? data.inputs.at(i + 1).first : data.span;
            painter.fillRect(QRectF(x(data.inputs.at(i).first), top,
                                    std::max(1.0, x(to) - x(data.inputs.at(i).first)),
                                    StripHeight),
                             QColor(32, 160, 64));
        }
    }
    if (cursor >= 0) {
        painter.setPen(QPen(QColor(96, 96, 96), 1, Qt::DashLine));
        painter.drawLine(QPointF(x(cursor), area.top()), QPointF(x(cursor), area.bottom()));
    }
}

RunPlot::RunPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(240, 160);
}

void RunPlot::setData(PlotData data) {
    m_data = std::move(data);
    update();
}

void RunPlot::setTimeCursor(double seconds) {
    m_cursor = seconds;
    update();
}

double RunPlot::timeAt(const QPoint& point) const {
    const QRectF plot = positionArea(QRectF(rect()), stripsOf(m_data));
    const double fraction = std::clamp((point.x() - plot.left()) / plot.width(), 0.0, 1.0);
    return fraction * std::max(m_data.span, 1e-3);
}

QImage RunPlot::image(const QSize& size) const {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRunPlot(painter, QRectF(QPointF(0, 0), QSizeF(size)), m_data, m_cursor);
    return image;
}

void RunPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRunPlot(painter, QRectF(rect()), m_data, m_cursor);
}

void RunPlot::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit timeClicked(timeAt(event->position().toPoint()));
}

} // namespace kqm::dryrun
