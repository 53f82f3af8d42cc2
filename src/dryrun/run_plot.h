#pragma once

#include <QList>
#include <QPair>
#include <QPointF>
#include <QWidget>

class QPainter;

namespace kqm::dryrun {

class Executor;

// What the plot draws: the position over program time, the outputs beneath.
struct PlotData {
    QList<QPointF> points;             // (seconds, position), in time order
    QList<QPair<double, int>> outputs; // (seconds, pattern) at each change
    double end = 0;                    // program time at the end
    double span = 0;                   // the time axis: to the end of a move's run-out
    bool estimated = false;            // times depend on the motion model
    qint64 low = 0;
    qint64 high = 0;
    // What a unit reported running the same program: its position, drawn
    // over the model's in another colour, and its inputs as strips.
    QList<QPointF> measured;
    QList<QPair<double, int>> inputs;
    bool traced = false;
};
// The plot's data with a unit's readings over it.
void addMeasured(PlotData& data, const QList<QPointF>& points,
                 const QList<QPair<double, int>>& inputs);
PlotData plotDataOf(const Executor& run);

// Draws the plot into the rectangle, with a cursor at `cursor` seconds (none
// when negative).
void drawRunPlot(QPainter& painter, const QRectF& area, const PlotData& data, double cursor);

// The plot as a widget: a cursor follows the run, and a click names the
// moment under the mouse.
class RunPlot final : public QWidget {
    Q_OBJECT
public:
    explicit RunPlot(QWidget* parent = nullptr);

    void setData(PlotData data);
    void setTimeCursor(double seconds);
    const PlotData& data() const { return m_data; }
    // The time at a point of the widget.
    double timeAt(const QPoint& point) const;
    QImage image(const QSize& size) const;

signals:
    void timeClicked(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    PlotData m_data;
    double m_cursor = -1;
};

} // namespace kqm::dryrun
