#pragma once
// One channel's chart in the trend window: the main value on the left axis (its mean as a line,
// and a band from minimum to maximum where a pixel column holds several readings), the
// temperature on a right axis, the daily total of a flow station on a second right axis, and a
// translucent band where the station was "Out of order". The line breaks wherever there is no
// value: a failure is a gap, never a zero.

#include "history/TrendQuery.h"

#include <QChartView>
#include <QString>

#include <memory>
#include <vector>

class QAreaSeries;
class QCategoryAxis;
class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QValueAxis;

namespace history {

class TrendChart final : public QChartView {
    Q_OBJECT
public:
    TrendChart(QString title, QWidget* parent = nullptr);
    ~TrendChart() override;

    // Draws the buckets of `series` (which must outlive the chart or the next setSeries) over
    // [fromMs, toMs). `digits` are the decimals the station shows (-1: not known).
    void setSeries(const TrendSeries* series, qint64 fromMs, qint64 toMs, const QString& unit, int digits = -1);
    // Follows the changes of the series since the last call: the buckets added or updated at its
    // end (`change` for its last bucket) and `dropped` buckets gone at its start. Only the points
    // concerned are appended, replaced or removed.
    void follow(TrendSeries::Change change, std::size_t dropped);
    void setTimeRange(qint64 fromMs, qint64 toMs);
    void showTimeLabels(bool show);

    // What the chart holds, for the tests and the benchmark.
    int valuePointCount() const;
    int runCount() const { return int(runs_.size()); }
    std::vector<QPointF> valuePoints() const;
    std::vector<QPointF> failureBand() const;
    qint64 timeFrom() const;
    qint64 timeTo() const;
    // The text of the crosshair (empty while the mouse is not over the plot).
    QString crosshairText() const;
    // The crosshair at a time, as the mouse puts it there.
    void showCrosshairAt(qint64 timeMs);

signals:
    // The user dragged over [fromMs, toMs) or turned the wheel.
    void zoomRequested(qint64 fromMs, qint64 toMs);
    // The right button: back to the range before the last zoom.
    void backRequested();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Run {
        QLineSeries* value = nullptr;
        QLineSeries* temperature = nullptr;
        QLineSeries* total = nullptr;
        QLineSeries* upper = nullptr; // the min/max band
        QLineSeries* lower = nullptr;
        QAreaSeries* band = nullptr;
        qint64 lastBucket = 0; // the bucket of its last points
        qint64 lastTimeMs = 0; // and their time
    };

    void updatePlotArea();
    void clearRuns();
    Run& newRun();
    void attachRun(Run& run);
    void addToRun(Run& run, const TrendBucket& bucket);
    void removeLast(Run& run);
    void removeBefore(Run& run, qreal timeMs);
    void deleteRun(Run& run);
    void updateFailures();
    void updateValueAxes();
    void attach(QLineSeries* series, QValueAxis* axis);
    qint64 timeAt(qreal x) const;
    qint64 maxGapMs() const;
    QString valueText(double v) const;
    // The crosshair, while shown, again at its place on the plot: a new period under it (a zoom,
    // "Back", the live period moving on) puts another time there.
    void refreshCrosshair();

    const TrendSeries* series_ = nullptr;
    std::vector<Run> runs_;
    QCategoryAxis* time_ = nullptr; // milliseconds since the epoch, labelled at round times
    QValueAxis* valueAxis_ = nullptr;
    QValueAxis* temperatureAxis_ = nullptr;
    QValueAxis* totalAxis_ = nullptr;
    QValueAxis* bandAxis_ = nullptr;
    QLineSeries* failureUpper_ = nullptr;
    QAreaSeries* failures_ = nullptr;
    QGraphicsLineItem* crossLine_ = nullptr;
    QGraphicsRectItem* crossBox_ = nullptr;
    QGraphicsSimpleTextItem* crossText_ = nullptr;
    QString unit_;
    int digits_ = -1;
    qreal crossX_ = 0; // where the crosshair stands, in chart coordinates
    bool hasTemperature_ = false;
    bool hasTotal_ = false;
    bool changingAxis_ = false;
    bool zoomPending_ = false;
};

} // namespace history
