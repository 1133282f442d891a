#include "history/TrendChart.h"

#include "history/TrendAxes.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QCategoryAxis>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace history {

namespace {

const QColor kValueColour(31, 95, 168);
const QColor kValueBandColour(31, 95, 168, 60);
const QColor kTemperatureColour(214, 96, 20);
const QColor kTotalColour(40, 140, 60);
const QColor kFailureColour(220, 30, 30, 45);

// A stretch without readings longer than this breaks the line even on short periods: the
// measurement was stopped, or the channel left the cycle, and nothing is known in between.
constexpr qint64 kMinGapMs = 30'000;
// The room around the plot, the same on every chart so that the stacked charts share one time
// axis to the pixel: on the left the value axis, on the right the temperature axis and the daily
// total's, at the top the title, at the bottom the time labels (shown on the lowest chart only).
constexpr qreal kLeftRoom = 78;
constexpr qreal kRightRoom = 132;
constexpr qreal kTopRoom = 26;
constexpr qreal kBottomRoomWithLabels = 30;
constexpr qreal kBottomRoom = 8;
// Each wheel notch shows this share of the time axis around the mouse.
constexpr double kWheelZoom = 0.8;
// Below a few seconds the buckets would be shorter than the readings are apart.
constexpr qint64 kShortestRangeMs = 10'000;

// Cosmetic: as wide on the picture as on the screen, whatever the zoom.
QPen linePen(const QColor& colour, qreal width = 1.0)
{
    QPen pen(colour, width);
    pen.setCosmetic(true);
    return pen;
}

QString timeText(qint64 ms, const char* format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromLatin1(format));
}

// Four or five significant digits where the station's own are not known: more would only be the
// noise of a mean.
int decimalsFor(double v)
{
    const double size = std::abs(v);
    return size < 10 ? 3 : size < 100 ? 2 : size < 1000 ? 1 : 0;
}

// Room for one time label ("dd/MM HH:mm" and a gap) and one value label's height and a gap.
constexpr qreal kTimeLabelRoom = 110;
constexpr qreal kValueLabelRoom = 36;
// The temperatures are shown to a tenth of a degree, as the stations show them.
constexpr int kTemperatureDigits = 1;

// The unit of the daily total of a rate: "m³/h" sums to "m³".
QString totalUnit(const QString& rate)
{
    return rate.section(QLatin1Char('/'), 0, 0).trimmed();
}

void applyTicks(QValueAxis* axis, const ValueTicks& ticks)
{
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(ticks.from);
    axis->setTickInterval(ticks.step);
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(ticks.decimals));
    if (axis->min() != ticks.from || axis->max() != ticks.to)
        axis->setRange(ticks.from, ticks.to);
}

} // namespace

TrendChart::TrendChart(QString title, QWidget* parent)
    : QChartView(new QChart, parent)
{
    setObjectName(QStringLiteral("TrendChart"));
    // No antialiasing of the curves: it doubles what a live chart costs (redrawn every second,
    // measured at 4.5 % against 2.2 % of a core for four charts) for little gain on thin lines.
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::HorizontalRubberBand);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);

    QChart* c = chart();
    c->setTitle(title);
    c->legend()->hide();
    c->setMargins(QMargins(4, 2, 4, 2));
    c->layout()->setContentsMargins(0, 0, 0, 0);
    c->setBackgroundRoundness(0);
    // While its plot area is fixed, a chart leaves its background at the size it first had (a
    // maximised window kept the old width, and a saved picture a grey strip): the view paints the
    // background instead, always over all of it.
    c->setBackgroundVisible(false);
    setBackgroundBrush(Qt::white);

    time_ = new QCategoryAxis(c);
    time_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    c->addAxis(time_, Qt::AlignBottom);
    valueAxis_ = new QValueAxis(c);
    valueAxis_->setLabelsColor(kValueColour);
    c->addAxis(valueAxis_, Qt::AlignLeft);
    temperatureAxis_ = new QValueAxis(c);
    temperatureAxis_->setLabelsColor(kTemperatureColour);
    temperatureAxis_->setTitleText(QStringLiteral("°C"));
    temperatureAxis_->setTitleBrush(kTemperatureColour);
    temperatureAxis_->setGridLineVisible(false);
    c->addAxis(temperatureAxis_, Qt::AlignRight);
    totalAxis_ = new QValueAxis(c);
    totalAxis_->setLabelsColor(kTotalColour);
    totalAxis_->setTitleBrush(kTotalColour);
    totalAxis_->setGridLineVisible(false);
    c->addAxis(totalAxis_, Qt::AlignRight);
    bandAxis_ = new QValueAxis(c);
    bandAxis_->setRange(0, 1);
    bandAxis_->setVisible(false);
    c->addAxis(bandAxis_, Qt::AlignLeft);

    failureUpper_ = new QLineSeries(this);
    failures_ = new QAreaSeries(failureUpper_);
    failures_->setName(tr("Out of order"));
    failures_->setBrush(kFailureColour);
    failures_->setPen(Qt::NoPen);
    c->addSeries(failures_);
    failures_->attachAxis(time_);
    failures_->attachAxis(bandAxis_);

    crossLine_ = new QGraphicsLineItem(c);
    crossLine_->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    crossLine_->setZValue(20);
    crossLine_->hide();
    // The text stands on a light box, readable over the curves.
    crossBox_ = new QGraphicsRectItem(c);
    crossBox_->setZValue(21);
    crossBox_->setBrush(QColor(255, 255, 255, 220));
    crossBox_->setPen(QPen(QColor(150, 150, 150), 0));
    crossBox_->hide();
    crossText_ = new QGraphicsSimpleTextItem(c);
    crossText_->setZValue(22);
    crossText_->setBrush(QColor(20, 20, 20));
    crossText_->hide();

    connect(time_, &QValueAxis::rangeChanged, this, [this] {
        // The rubber band zooms the chart itself: the window reads the new period instead. Later,
        // not here: the chart is still going through its series, which the new read replaces.
        // The axis may report its ends one at a time: one request carries the final range.
        if (!changingAxis_ && !zoomPending_) {
            zoomPending_ = true;
            QMetaObject::invokeMethod(this, [this] {
                zoomPending_ = false;
                emit zoomRequested(timeFrom(), timeTo());
            }, Qt::QueuedConnection);
        }
    });
    setTimeRange(QDateTime::currentMSecsSinceEpoch() - 3'600'000, QDateTime::currentMSecsSinceEpoch());
    updateValueAxes();
}

TrendChart::~TrendChart() = default;

void TrendChart::attach(QLineSeries* series, QValueAxis* axis)
{
    chart()->addSeries(series);
    series->attachAxis(time_);
    series->attachAxis(axis);
}

TrendChart::Run& TrendChart::newRun()
{
    Run run;
    run.upper = new QLineSeries(this);
    run.lower = new QLineSeries(this);
    run.band = new QAreaSeries(run.upper, run.lower);
    run.band->setBrush(kValueBandColour);
    run.band->setPen(Qt::NoPen);
    run.value = new QLineSeries(this);
    run.value->setPen(linePen(kValueColour, 2.0));
    run.temperature = new QLineSeries(this);
    run.temperature->setPen(linePen(kTemperatureColour));
    run.total = new QLineSeries(this);
    run.total->setPen(linePen(kTotalColour));
    runs_.push_back(run);
    return runs_.back();
}

void TrendChart::attachRun(Run& run)
{
    // Series are filled before they go on the chart: each point added to a series on the chart
    // makes the chart go over all of that series' points again.
    chart()->addSeries(run.band);
    run.band->attachAxis(time_);
    run.band->attachAxis(valueAxis_);
    attach(run.value, valueAxis_);
    attach(run.temperature, temperatureAxis_);
    attach(run.total, totalAxis_);
}

void TrendChart::deleteRun(Run& run)
{
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{run.band, run.value, run.temperature, run.total}) {
        if (s->chart())
            chart()->removeSeries(s);
        delete s;
    }
    delete run.upper;
    delete run.lower;
    run = {};
}

void TrendChart::clearRuns()
{
    for (Run& run : runs_)
        deleteRun(run);
    runs_.clear();
}

void TrendChart::addToRun(Run& run, const TrendBucket& b)
{
    const auto x = qreal(b.timeMs);
    run.value->append(x, b.value->mean);
    run.upper->append(x, b.value->max);
    run.lower->append(x, b.value->min);
    if (b.temperature) {
        run.temperature->append(x, b.temperature->mean);
        hasTemperature_ = true;
    }
    if (b.totalDay) {
        run.total->append(x, *b.totalDay);
        hasTotal_ = true;
    }
    run.lastBucket = b.bucket;
    run.lastTimeMs = b.timeMs;
}

void TrendChart::removeLast(Run& run)
{
    for (QLineSeries* s : {run.value, run.upper, run.lower, run.temperature, run.total}) {
        if (s->count() > 0 && s->at(s->count() - 1).x() == qreal(run.lastTimeMs))
            s->remove(s->count() - 1);
    }
}

void TrendChart::removeBefore(Run& run, qreal timeMs)
{
    for (QLineSeries* s : {run.value, run.upper, run.lower, run.temperature, run.total}) {
        int n = 0;
        while (n < s->count() && s->at(n).x() < timeMs)
            ++n;
        if (n > 0)
            s->removePoints(0, n);
    }
}

qint64 TrendChart::maxGapMs() const
{
    if (!series_)
        return kMinGapMs;
    const TrendGrid& g = series_->grid();
    return std::max(kMinGapMs, 3 * (g.toMs - g.fromMs) / std::max(1, g.columns));
}

void TrendChart::setSeries(const TrendSeries* series, qint64 fromMs, qint64 toMs, const QString& unit, int digits)
{
    series_ = series;
    unit_ = unit;
    digits_ = digits;
    hasTemperature_ = false;
    hasTotal_ = false;
    clearRuns();
    if (series_) {
        const TrendBucket* previous = nullptr;
        for (const TrendBucket& b : series_->buckets()) {
            if (b.count > 0 && b.value) {
                if (runs_.empty() || !previous || !joined(*previous, b, maxGapMs()))
                    newRun();
                addToRun(runs_.back(), b);
            }
            previous = &b;
        }
        for (Run& run : runs_)
            attachRun(run);
    }
    valueAxis_->setTitleText(unit_);
    updateFailures();
    setTimeRange(fromMs, toMs);
    updateValueAxes();
}

void TrendChart::refreshCrosshair()
{
    if (crossLine_->isVisible())
        showCrosshairAt(timeAt(crossX_));
}

void TrendChart::follow(TrendSeries::Change change, std::size_t dropped)
{
    if (!series_)
        return;
    const auto& buckets = series_->buckets();
    if (dropped > 0) {
        // Every point before the first bucket kept belongs to a bucket that went.
        const qreal cut = buckets.empty() ? std::numeric_limits<qreal>::max() : qreal(buckets.front().timeMs);
        for (Run& run : runs_)
            removeBefore(run, cut);
        const auto empty = std::remove_if(runs_.begin(), runs_.end(), [this](Run& run) {
            if (run.value->count() > 0)
                return false;
            deleteRun(run);
            return true;
        });
        runs_.erase(empty, runs_.end());
    }
    if (change != TrendSeries::Change::None && !buckets.empty()) {
        const TrendBucket& last = buckets.back();
        if (change == TrendSeries::Change::Updated && !runs_.empty() && runs_.back().lastBucket == last.bucket) {
            removeLast(runs_.back());
            if (runs_.back().value->count() == 0) {
                deleteRun(runs_.back());
                runs_.pop_back();
            }
        }
        if (last.count > 0 && last.value) {
            const TrendBucket* before = buckets.size() > 1 ? &buckets[buckets.size() - 2] : nullptr;
            const bool continues = !runs_.empty() && before && runs_.back().lastBucket == before->bucket &&
                                   joined(*before, last, maxGapMs());
            const bool same = !runs_.empty() && runs_.back().lastBucket == last.bucket && runs_.back().value->count() > 0;
            if (!continues && !same)
                attachRun(newRun());
            addToRun(runs_.back(), last);
        }
    }
    updateFailures();
    updateValueAxes();
    refreshCrosshair();
}

void TrendChart::updateFailures()
{
    // Each span as high as the share of its readings that failed (the band's axis runs 0..1).
    QList<QPointF> points;
    if (series_) {
        for (const FailureSpan& span : failureSpans(series_->buckets(), series_->grid(), maxGapMs())) {
            const auto start = qreal(span.fromMs);
            const auto end = qreal(span.toMs);
            points << QPointF(start, 0) << QPointF(start, span.share) << QPointF(end, span.share) << QPointF(end, 0);
        }
    }
    // Replacing the points redraws the chart: only when they changed.
    if (points != failureUpper_->points())
        failureUpper_->replace(points);
}

void TrendChart::updateValueAxes()
{
    double vLo = 0, vHi = 0, tLo = 0, tHi = 0, sLo = 0, sHi = 0;
    bool anyV = false, anyT = false, anyS = false;
    if (series_) {
        for (const TrendBucket& b : series_->buckets()) {
            if (b.value && b.count > 0) {
                vLo = anyV ? std::min(vLo, b.value->min) : b.value->min;
                vHi = anyV ? std::max(vHi, b.value->max) : b.value->max;
                anyV = true;
            }
            if (b.temperature && b.count > 0) {
                tLo = anyT ? std::min(tLo, b.temperature->mean) : b.temperature->mean;
                tHi = anyT ? std::max(tHi, b.temperature->mean) : b.temperature->mean;
                anyT = true;
            }
            if (b.totalDay && b.count > 0) {
                sLo = anyS ? std::min(sLo, *b.totalDay) : *b.totalDay;
                sHi = anyS ? std::max(sHi, *b.totalDay) : *b.totalDay;
                anyS = true;
            }
        }
    }
    const int wanted = std::clamp(int(chart()->plotArea().height() / kValueLabelRoom), 2, 6);
    // A little room above and below the readings, so that the line does not run on the frame.
    const auto padded = [wanted](double lo, double hi, double minSpan, int digits) {
        const double pad = (hi - lo) * 0.04;
        return valueTicks(lo - pad, hi + pad, minSpan, digits, wanted);
    };
    const int digits = digits_ >= 0 ? digits_ : 2;
    applyTicks(valueAxis_, anyV ? padded(vLo, vHi, minimumSpan(unit_, digits), digits) : valueTicks(0, 1, 1, 1, wanted));
    applyTicks(temperatureAxis_, anyT ? padded(tLo, tHi, minimumSpan(QStringLiteral("°C"), kTemperatureDigits), kTemperatureDigits)
                                      : valueTicks(0, 1, 1, 1, wanted));
    // The daily total starts from zero each day: its axis starts at zero.
    applyTicks(totalAxis_, valueTicks(std::min(0.0, sLo), anyS ? sHi * 1.04 : 1, 1, 0, wanted));
    temperatureAxis_->setVisible(hasTemperature_);
    totalAxis_->setVisible(hasTotal_);
    const QString sumUnit = totalUnit(unit_);
    totalAxis_->setTitleText(!hasTotal_ ? QString() : sumUnit.isEmpty() ? tr("daily total") : tr("daily total (%1)").arg(sumUnit));
}

void TrendChart::setTimeRange(qint64 fromMs, qint64 toMs)
{
    changingAxis_ = true;
    for (const QString& label : time_->categoriesLabels())
        time_->remove(label);
    time_->setRange(qreal(fromMs), qreal(toMs));
    time_->setStartValue(qreal(fromMs));
    const qreal width = chart()->plotArea().width() > 10 ? chart()->plotArea().width() : 600;
    const int offset = QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc();
    for (const TimeTick& tick : timeTicks(fromMs, toMs, std::max(2, int(width / kTimeLabelRoom)), offset))
        time_->append(tick.label, qreal(tick.timeMs));
    changingAxis_ = false;
    refreshCrosshair();
}

void TrendChart::showTimeLabels(bool show)
{
    time_->setLabelsVisible(show);
    updatePlotArea();
}

void TrendChart::updatePlotArea()
{
    const QSizeF size = chart()->size();
    const qreal bottom = time_->labelsVisible() ? kBottomRoomWithLabels : kBottomRoom;
    const QRectF plot(kLeftRoom, kTopRoom, size.width() - kLeftRoom - kRightRoom, size.height() - kTopRoom - bottom);
    if (plot.width() > 10 && plot.height() > 10 && plot != chart()->plotArea()) {
        chart()->setPlotArea(plot);
        // How many ticks fit follows from the plot's size.
        setTimeRange(timeFrom(), timeTo());
        updateValueAxes();
    }
}

void TrendChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    updatePlotArea();
}

int TrendChart::valuePointCount() const
{
    int n = 0;
    for (const Run& run : runs_)
        n += run.value->count();
    return n;
}

std::vector<QPointF> TrendChart::valuePoints() const
{
    std::vector<QPointF> points;
    for (const Run& run : runs_) {
        const QList<QPointF> p = run.value->points();
        points.insert(points.end(), p.begin(), p.end());
    }
    return points;
}

std::vector<QPointF> TrendChart::failureBand() const
{
    const QList<QPointF> p = failureUpper_->points();
    return {p.begin(), p.end()};
}

qint64 TrendChart::timeFrom() const
{
    return qint64(std::llround(time_->min()));
}

qint64 TrendChart::timeTo() const
{
    return qint64(std::llround(time_->max()));
}

QString TrendChart::valueText(double v) const
{
    return panelNumber(v, digits_ >= 0 ? digits_ : decimalsFor(v));
}

QString TrendChart::crosshairText() const
{
    return crossText_->isVisible() ? crossText_->text() : QString();
}

qint64 TrendChart::timeAt(qreal x) const
{
    const QRectF plot = chart()->plotArea();
    const qint64 from = timeFrom();
    const qint64 to = timeTo();
    if (plot.width() <= 0)
        return from;
    return from + qint64(std::llround((x - plot.left()) / plot.width() * double(to - from)));
}

void TrendChart::showCrosshairAt(qint64 timeMs)
{
    const QRectF plot = chart()->plotArea();
    if (!series_ || plot.width() <= 0 || timeTo() <= timeFrom()) {
        crossLine_->hide();
        crossText_->hide();
        crossBox_->hide();
        return;
    }
    const qreal x = plot.left() + qreal(timeMs - timeFrom()) / qreal(timeTo() - timeFrom()) * plot.width();
    crossX_ = x;
    crossLine_->setLine(x, plot.top(), x, plot.bottom());
    crossLine_->show();

    // The bucket nearest in time: between two readings, the value of the nearer one; not across a
    // stretch without readings, where the line breaks too.
    const auto& buckets = series_->buckets();
    const auto after = std::lower_bound(buckets.begin(), buckets.end(), timeMs,
                                        [](const TrendBucket& b, qint64 t) { return b.timeMs < t; });
    const TrendBucket* nearest = nullptr;
    if (after != buckets.end())
        nearest = &*after;
    if (after != buckets.begin()) {
        const TrendBucket& before = *(after - 1);
        if (!nearest || timeMs - before.timeMs < nearest->timeMs - timeMs)
            nearest = &before;
    }
    const qint64 msPerPixel = std::max<qint64>(1, qint64((timeTo() - timeFrom()) / plot.width()));
    QString text = QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (nearest && std::abs(nearest->timeMs - timeMs) <= std::max(4 * msPerPixel, maxGapMs() / 2)) {
        text = timeText(nearest->timeMs, "yyyy-MM-dd HH:mm:ss");
        if (nearest->value && nearest->count > 0) {
            text += QStringLiteral("   ") + QStringLiteral("%1 %2").arg(valueText(nearest->value->mean), unit_).trimmed();
            if (nearest->count > 1)
                text += QStringLiteral(" (%1 .. %2, %3 readings)")
                            .arg(valueText(nearest->value->min), valueText(nearest->value->max))
                            .arg(nearest->count);
            if (nearest->temperature)
                text += QStringLiteral("   %1 °C").arg(panelNumber(nearest->temperature->mean, kTemperatureDigits));
            if (nearest->totalDay)
                text += tr("   daily total %1").arg(
                    QStringLiteral("%1 %2").arg(panelNumber(*nearest->totalDay, std::abs(*nearest->totalDay) < 100 ? 1 : 0),
                                                totalUnit(unit_)).trimmed());
            if (nearest->failed > 0)
                text += tr("   %1 of %2 readings Out of order").arg(nearest->failed).arg(nearest->failed + nearest->count);
        } else {
            text += nearest->failed > 1 ? tr("   Out of order (%1 readings)").arg(nearest->failed) : tr("   Out of order");
        }
    }
    crossText_->setText(text);
    const QRectF box = crossText_->boundingRect();
    const qreal left = std::clamp(x + 6, plot.left() + 3, std::max(plot.left() + 3, plot.right() - box.width() - 4));
    crossText_->setPos(left, plot.top() + 3);
    crossText_->show();
    crossBox_->setRect(QRectF(left - 3, plot.top() + 1, box.width() + 6, box.height() + 4));
    crossBox_->show();
}

void TrendChart::mouseMoveEvent(QMouseEvent* event)
{
    QChartView::mouseMoveEvent(event);
    const QPointF inChart = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    if (chart()->plotArea().contains(inChart)) {
        showCrosshairAt(timeAt(inChart.x()));
    } else {
        crossLine_->hide();
        crossText_->hide();
        crossBox_->hide();
    }
}

void TrendChart::leaveEvent(QEvent* event)
{
    crossLine_->hide();
    crossText_->hide();
    crossBox_->hide();
    QChartView::leaveEvent(event);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event)
{
    // The right button would zoom the chart out by itself; here it goes back one step instead.
    if (event->button() == Qt::RightButton) {
        event->accept();
        emit backRequested();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void TrendChart::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) {
        event->ignore();
        return;
    }
    const QPointF inChart = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    const qint64 from = timeFrom();
    const qint64 to = timeTo();
    const qint64 centre = std::clamp(timeAt(inChart.x()), from, to);
    const double factor = std::pow(kWheelZoom, steps);
    qint64 newFrom = centre - qint64(double(centre - from) * factor);
    qint64 newTo = centre + qint64(double(to - centre) * factor);
    if (newTo - newFrom < kShortestRangeMs) {
        newFrom = centre - kShortestRangeMs / 2;
        newTo = newFrom + kShortestRangeMs;
    }
    event->accept();
    if (newFrom != from || newTo != to)
        emit zoomRequested(newFrom, newTo);
}

} // namespace history
