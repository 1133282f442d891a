#include "history/TrendWindow.h"

#include "history/HistorySchema.h"
#include "history/TrendChart.h"
#include "ui/Dialogs.h"
#include "ui/WindowFit.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace history {

namespace {

constexpr qint64 kHourMs = 3'600'000;
constexpr qint64 kDayMs = 24 * kHourMs;
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// A reader waits at most this long for the recorder's lock; past it the read is tried again on
// the next tick, so that the window never stands still.
constexpr int kBusyTimeoutMs = 50;
// The live view reads at most this many new rows per tick (a recorder writes four a second).
constexpr int kRowsPerTick = 5000;
// How far ahead of this computer's clock a reading may be and still be appended live.
constexpr qint64 kAheadMs = 60'000;
// The charts never get more points than this, however wide the screen.
constexpr int kMaxColumns = 4000;
constexpr int kMinColumns = 50;
// A long period is read in steps of this much time per query (a day of four channels at one
// reading a second is about 350 000 rows, 30 to 80 ms of SQLite) ...
constexpr qint64 kSliceSpanMs = 6 * kHourMs;
// ... and as many steps as fit in this per turn of the event loop, so that the measurement and
// the interface keep their turns while 30 days are read.
constexpr qint64 kLoadSliceMs = 25;
// What the axes of a chart take of its width, about.
constexpr int kAxesRoom = 150;
// A chart lower than this leaves too little room between its ticks for their labels; below it the
// charts scroll instead of shrinking (operators' screens go down to 1024x768, some at 1.5x or 2x
// scaling). The lowest chart carries the time labels as well.
constexpr int kChartMinHeight = 150;
constexpr int kTimeLabelsHeight = 30;
// The window's preferred width, and the least it is worth showing at (where the screen allows).
constexpr int kPreferredWidth = 1100;
constexpr QSize kMinimumSize(560, 360);

qint64 spanOf(TrendWindow::Range range)
{
    switch (range) {
    case TrendWindow::Range::LastHour: return kHourMs;
    case TrendWindow::Range::Day: return kDayMs;
    case TrendWindow::Range::Week: return 7 * kDayMs;
    case TrendWindow::Range::Month: return 30 * kDayMs;
    case TrendWindow::Range::Chosen: break;
    }
    return kHourMs;
}

QString durationText(qint64 ms)
{
    if (ms < 2000)
        return QObject::tr("%1 ms").arg(ms);
    if (ms < 120'000)
        return QObject::tr("%1 s").arg(ms / 1000);
    return QObject::tr("%1 min").arg(ms / 60'000);
}

} // namespace

TrendWindow::TrendWindow(ui::Dialogs& dialogs, QString programTitle, QString directory,
                         std::vector<TrendChannel> channels, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , dialogs_(dialogs)
    , programTitle_(std::move(programTitle))
    , directory_(std::move(directory))
    , channels_(std::move(channels))
{
    setObjectName(QStringLiteral("TrendWindow"));
    series_.resize(channels_.size());
    build();
    live_.setInterval(1000);
    connect(&live_, &QTimer::timeout, this, &TrendWindow::tick);
    loadTimer_.setInterval(0);
    connect(&loadTimer_, &QTimer::timeout, this, &TrendWindow::loadSome);
    resized_.setSingleShot(true);
    resized_.setInterval(300);
    connect(&resized_, &QTimer::timeout, this, [this] {
        if (loadedOnce_ && open_ && trendGridFor(shownFrom_, shownTo_, wantedColumns()).columns != grid_.columns)
            reload();
    });
}

TrendWindow::~TrendWindow()
{
    live_.stop();
    // The charts, children deleted after the members, must not point into series_ by then.
    for (TrendChart* chart : charts_)
        chart->setSeries(nullptr, grid_.fromMs, grid_.toMs, {});
}

void TrendWindow::build()
{
    auto* layout = new QVBoxLayout(this);

    // The range, the chosen period and the commands share a row where the window is wide enough,
    // and go one under the other where it is not (see arrangeControls), so that no button is ever
    // cut off, even on a 1024x768 screen at twice the scale.
    controls_ = new QBoxLayout(QBoxLayout::LeftToRight);
    auto* controls = new QHBoxLayout;
    auto* period = new QHBoxLayout;
    auto* commands = new QHBoxLayout;
    rangeBox_ = new QComboBox(this);
    rangeBox_->setObjectName(QStringLiteral("Range"));
    rangeBox_->addItems({tr("Last hour"), tr("Last 24 hours"), tr("Last 7 days"), tr("Last 30 days"), tr("Period")});
    connect(rangeBox_, &QComboBox::activated, this, &TrendWindow::rangeChosen);
    controls->addWidget(rangeBox_);
    from_ = new QDateTimeEdit(this);
    from_->setObjectName(QStringLiteral("From"));
    to_ = new QDateTimeEdit(this);
    to_->setObjectName(QStringLiteral("To"));
    for (QDateTimeEdit* edit : {from_, to_}) {
        edit->setDisplayFormat(kDateTimeFormat);
        edit->setCalendarPopup(true);
    }
    auto* fromLabel = new QLabel(tr("&From:"), this);
    fromLabel->setBuddy(from_);
    auto* toLabel = new QLabel(tr("&To:"), this);
    toLabel->setBuddy(to_);
    show_ = new QPushButton(tr("&Show"), this);
    show_->setObjectName(QStringLiteral("Show"));
    connect(show_, &QPushButton::clicked, this, &TrendWindow::applyChosen);
    back_ = new QPushButton(tr("&Back"), this);
    back_->setObjectName(QStringLiteral("Back"));
    back_->setEnabled(false);
    back_->setToolTip(tr("The period shown before the last zoom (also the right mouse button)"));
    connect(back_, &QPushButton::clicked, this, &TrendWindow::Back_Click);
    save_ = new QPushButton(tr("Save &picture..."), this);
    save_->setObjectName(QStringLiteral("SavePicture"));
    connect(save_, &QPushButton::clicked, this, &TrendWindow::SavePicture_Click);
    controls->addWidget(fromLabel);
    controls->addWidget(from_);
    controls->addStretch(1);
    period->addWidget(toLabel);
    period->addWidget(to_);
    period->addWidget(show_);
    period->addStretch(1);
    commands->addStretch(1);
    commands->addWidget(back_);
    commands->addWidget(save_);
    controls_->addLayout(controls);
    controls_->addLayout(period, 1);
    controls_->addLayout(commands);
    layout->addLayout(controls_);

    pages_ = new QStackedWidget(this);
    notice_ = new QLabel(pages_);
    notice_->setObjectName(QStringLiteral("Notice"));
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setWordWrap(true);
    QFont big = notice_->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    notice_->setFont(big);
    pages_->addWidget(notice_);
    chartsScroll_ = new QScrollArea(pages_);
    chartsScroll_->setObjectName(QStringLiteral("Charts"));
    chartsScroll_->setWidgetResizable(true);
    chartsScroll_->setFrameShape(QFrame::NoFrame);
    // The charts are read with the mouse (drag, wheel, crosshair): from the keyboard the scroll
    // area is the one stop, framed in the highlight colour while it has the focus (see eventFilter),
    // since a chart draws no focus of its own.
    chartsScroll_->setFocusPolicy(Qt::StrongFocus);
    chartsScroll_->installEventFilter(this);
    chartsScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    chartsPage_ = new QWidget(chartsScroll_);
    auto* chartsLayout = new QVBoxLayout(chartsPage_);
    chartsLayout->setContentsMargins(0, 0, 0, 0);
    chartsLayout->setSpacing(0);
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const TrendChannel& c = channels_[i];
        const QString title = c.tag.trimmed().isEmpty() ? tr("Input %1").arg(c.channel) : c.tag.trimmed();
        auto* chart = new TrendChart(title, chartsPage_);
        chart->setObjectName(QStringLiteral("Chart_%1").arg(c.channel));
        const bool lowest = i + 1 == channels_.size();
        chart->showTimeLabels(lowest);
        chart->setMinimumHeight(kChartMinHeight + (lowest ? kTimeLabelsHeight : 0));
        chart->setFocusPolicy(Qt::NoFocus);
        connect(chart, &TrendChart::zoomRequested, this, &TrendWindow::zoomTo);
        connect(chart, &TrendChart::backRequested, this, &TrendWindow::Back_Click);
        chartsLayout->addWidget(chart, 1);
        charts_.push_back(chart);
    }
    chartsScroll_->setWidget(chartsPage_);
    pages_->addWidget(chartsScroll_);
    layout->addWidget(pages_, 1);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    layout->addWidget(status_);
}

QString TrendWindow::chartTitle(const TrendChannel& channel, const RecordedLabel& recorded)
{
    const QString tag = recorded.found ? recorded.tag : channel.tag.trimmed();
    QString title = tag.isEmpty() ? tr("Input %1").arg(channel.channel) : tag;
    if (recorded.changed) {
        // Readings of two stations or names on one chart: said, with what came first.
        QStringList before;
        if (recorded.earlierTag != recorded.tag)
            before << (recorded.earlierTag.isEmpty() ? tr("no tag") : recorded.earlierTag);
        if (recorded.earlierType != recorded.type)
            before << tr("%1 until changed to %2").arg(recorded.earlierType, recorded.type);
        title += tr("   (changed within the period; before: %1)").arg(before.join(QStringLiteral(", ")));
    }
    return title;
}

void TrendWindow::Form_Load()
{
    setWindowTitle(programTitle_ + tr(" [Trends]"));
    const QSize preferred(kPreferredWidth, std::clamp(180 + 220 * int(channels_.size()), 420, 860));
    // The rows of the controls are chosen for the width the window will get, before the window
    // takes its size: on one row they would hold it wider than a small screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        arrangeControls(ui::fittedSize(preferred, kMinimumSize, screen->availableGeometry()).width());
    ui::fitToScreen(*this, preferred, kMinimumSize);
    show();
    setRange(Range::LastHour);
}

void TrendWindow::arrangeControls(int windowWidth)
{
    const QMargins margins = layout()->contentsMargins();
    int oneRow = margins.left() + margins.right();
    for (int i = 0; i < controls_->count(); ++i)
        oneRow += controls_->itemAt(i)->sizeHint().width() + (i > 0 ? controls_->spacing() : 0);
    const auto direction = windowWidth >= oneRow ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (controls_->direction() != direction)
        controls_->setDirection(direction);
}

QString TrendWindow::historyPath() const
{
    return QDir(directory_).absoluteFilePath(QString::fromLatin1(kHistoryFileName));
}

QString TrendWindow::notice() const
{
    return pages_->currentWidget() == notice_ ? notice_->text() : QString();
}

void TrendWindow::showNotice(const QString& text)
{
    notice_->setText(text);
    pages_->setCurrentWidget(notice_);
}

int TrendWindow::wantedColumns() const
{
    if (charts_.empty())
        return kMinColumns;
    const TrendChart* chart = charts_.front();
    int width = int(chart->chart()->plotArea().width());
    // Before the first layout, or while the notice hides the charts, the plot area is unknown:
    // the width the charts get, less room for the axes. Once they are up the read is done again
    // with their real width (see reload()).
    if (width < kMinColumns || !chart->isVisible())
        width = pages_->width() - kAxesRoom;
    return std::clamp(width, kMinColumns, kMaxColumns);
}

void TrendWindow::rangeChosen(int index)
{
    backStack_.clear();
    back_->setEnabled(false);
    const auto range = Range(index);
    if (range == Range::Chosen) {
        // The period shown so far is where the choice starts.
        from_->setDateTime(QDateTime::fromMSecsSinceEpoch(grid_.fromMs));
        to_->setDateTime(QDateTime::fromMSecsSinceEpoch(grid_.toMs));
        applyChosen();
        return;
    }
    setRange(range);
}

void TrendWindow::setRange(Range range)
{
    if (range == Range::Chosen) {
        applyChosen();
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    setView({range, now - spanOf(range), now});
}

void TrendWindow::applyChosen()
{
    const qint64 from = from_->dateTime().toMSecsSinceEpoch();
    const qint64 to = to_->dateTime().toMSecsSinceEpoch();
    if (from >= to) {
        dialogs_.notify(tr("The start of the period must come before its end."), ui::Icon::Warning, {}, this);
        return;
    }
    setView({Range::Chosen, from, to});
}

void TrendWindow::showPeriod(qint64 fromMs, qint64 toMs)
{
    if (fromMs >= toMs)
        return;
    setView({Range::Chosen, fromMs, toMs});
}

void TrendWindow::zoomTo(qint64 fromMs, qint64 toMs)
{
    if (fromMs >= toMs || (fromMs == shownFrom_ && toMs == shownTo_))
        return;
    backStack_.push_back({range_, shownFrom_, shownTo_});
    back_->setEnabled(true);
    setView({Range::Chosen, fromMs, toMs});
}

void TrendWindow::Back_Click()
{
    if (backStack_.empty())
        return;
    View view = backStack_.back();
    backStack_.pop_back();
    back_->setEnabled(!backStack_.empty());
    if (view.range != Range::Chosen) {
        // A live period comes back up to now.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        view = {view.range, now - spanOf(view.range), now};
    }
    setView(view);
}

void TrendWindow::setView(const View& view)
{
    range_ = view.range;
    shownFrom_ = view.fromMs;
    shownTo_ = view.toMs;
    rangeBox_->setCurrentIndex(int(range_));
    from_->setDateTime(QDateTime::fromMSecsSinceEpoch(view.fromMs));
    to_->setDateTime(QDateTime::fromMSecsSinceEpoch(view.toMs));
    from_->setEnabled(range_ == Range::Chosen);
    to_->setEnabled(range_ == Range::Chosen);
    show_->setEnabled(range_ == Range::Chosen);
    // The tick also runs for a chosen period: it retries a read the writer's lock put off.
    live_.start();
    reload();
}

bool TrendWindow::openHistory()
{
    if (open_)
        return true;
    const QString path = historyPath();
    if (!QFileInfo::exists(path)) {
        showNotice(tr("No readings recorded yet."));
        status_->setText(tr("No history file \"%1\".").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    // A file that is there but cannot be read (damaged, no database, a pipe) is no empty history:
    // the notice says why, and what becomes of it.
    if (const QString error = history_.open(path); !error.isEmpty()) {
        showNotice(error);
        status_->setText(error);
        return false;
    }
    QSqlQuery pragma(history_.database());
    pragma.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs));
    open_ = true;
    return true;
}

void TrendWindow::reload()
{
    loadTimer_.stop();
    load_.reset();
    needReload_ = true;
    grid_ = trendGridFor(shownFrom_, shownTo_, wantedColumns());
    for (std::size_t i = 0; i < charts_.size(); ++i) {
        series_[i] = TrendSeries(grid_, {});
        charts_[i]->setSeries(&series_[i], shownFrom_, shownTo_, {});
    }
    if (channels_.empty()) {
        showNotice(tr("No channel is selected for measurement."));
        needReload_ = false;
        return;
    }
    if (!openHistory())
        return;
    bool busy = false;
    const std::optional<qint64> last = lastReadingId(history_.database(), &busy);
    if (!last) {
        if (busy) {
            status_->setText(tr("The history file is busy; trying again."));
        } else {
            // Not a history file, or a damaged one: said once, and nothing is written to it.
            status_->setText(tr("The history file \"%1\" could not be read.").arg(QDir::toNativeSeparators(historyPath())));
            showNotice(status_->text());
            history_.close();
            open_ = false;
        }
        return;
    }
    lastId_ = *last;
    if (lastId_ == 0) {
        showNotice(tr("No readings recorded yet."));
        status_->clear();
        needReload_ = false;
        return;
    }
    // A long period is read in slices of about kSliceSpanMs of time per query, as many queries
    // as fit in kLoadSliceMs per turn of the event loop.
    load_ = Load{};
    const qint64 span = grid_.toMs - grid_.fromMs;
    const qint64 slices = std::clamp<qint64>(span / kSliceSpanMs, 1, grid_.columns);
    load_->bucketsPerSlice = std::max<qint64>(1, (grid_.columns + slices - 1) / slices);
    load_->sliceFrom = grid_.fromMs;
    status_->setText(tr("Reading the history..."));
    loadSome();
    if (load_)
        loadTimer_.start();
}

void TrendWindow::loadSome()
{
    if (!load_) {
        loadTimer_.stop();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    while (load_ && clock.elapsed() < kLoadSliceMs) {
        Load& load = *load_;
        const std::size_t i = load.chart;
        const qint64 sliceTo =
            std::min(grid_.toMs, grid_.bucketStartMs(grid_.bucketOf(load.sliceFrom) + load.bucketsPerSlice));
        TrendBuckets result =
            queryTrendBuckets(history_.database(), channels_[i].channel, grid_, lastId_, load.sliceFrom, sliceTo);
        if (!result.error.isEmpty()) {
            // Tried again from the start on the next tick.
            status_->setText(result.busy ? tr("The history file is busy; trying again.")
                                         : tr("The history file could not be read: %1").arg(result.error));
            load_.reset();
            loadTimer_.stop();
            return;
        }
        for (TrendBucket& b : result.buckets) {
            load.readings += b.count + b.failed;
            load.buckets.push_back(std::move(b));
        }
        if (!result.unit.isEmpty()) {
            load.unit = result.unit;
            load.digits = result.digits;
        }
        load.sliceFrom = sliceTo;
        if (sliceTo < grid_.toMs) {
            const double done = (double(i) + double(sliceTo - grid_.fromMs) / double(grid_.toMs - grid_.fromMs)) /
                                double(charts_.size());
            status_->setText(tr("Reading the history... %1 %").arg(int(done * 100)));
            continue;
        }
        // This channel is read: its chart comes up, titled as its readings were recorded.
        charts_[i]->chart()->setTitle(
            chartTitle(channels_[i], recordedLabel(history_.database(), channels_[i].channel, grid_.fromMs, grid_.toMs)));
        series_[i] = TrendSeries(grid_, std::move(load.buckets));
        charts_[i]->setSeries(&series_[i], shownFrom_, shownTo_, load.unit, load.digits);
        load.buckets = {};
        load.unit.clear();
        load.digits = -1;
        load.sliceFrom = grid_.fromMs;
        if (++load.chart == charts_.size())
            finishLoad();
    }
}

void TrendWindow::finishLoad()
{
    const qint64 readings = load_->readings;
    load_.reset();
    loadTimer_.stop();
    needReload_ = false;
    loadedOnce_ = true;
    if (pages_->currentWidget() != chartsScroll_ || !charts_.front()->isVisible()) {
        pages_->setCurrentWidget(chartsScroll_);
        resized_.start();
    }
    const qint64 perColumn = (grid_.toMs - grid_.fromMs) / grid_.columns;
    status_->setText(readings == 0 ? tr("No readings in this period.")
                                   : tr("%1 readings; one point per %2 (the band: lowest to highest reading)")
                                         .arg(readings)
                                         .arg(durationText(perColumn)));
    emit loaded();
}

void TrendWindow::tick()
{
    if (loading())
        return; // the live readings follow once the period is read
    if (needReload_ || !open_) {
        if (live()) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            shownFrom_ = now - spanOf(range_);
            shownTo_ = now;
        }
        reload();
        return;
    }
    if (!live())
        return;
    const TrendReadings fresh = queryReadingsAfter(history_.database(), lastId_, kRowsPerTick);
    if (fresh.busy)
        return; // the recorder holds the file: the next tick reads it
    if (!fresh.error.isEmpty()) {
        status_->setText(tr("The history file could not be read: %1").arg(fresh.error));
        return;
    }
    if (lastId_ == 0 && !fresh.readings.empty()) {
        // The first readings of an empty file: the charts come up in place of the notice.
        needReload_ = true;
        tick();
        return;
    }
    const qint64 latest = QDateTime::currentMSecsSinceEpoch() + kAheadMs;
    for (const TrendReading& r : fresh.readings) {
        lastId_ = r.id;
        // A time stamp from a clock far ahead would hold the end of the line there, and every
        // reading after it would fall behind it: it is left out (a full read shows it in its place).
        if (r.timeMs > latest)
            continue;
        for (std::size_t i = 0; i < channels_.size(); ++i) {
            if (channels_[i].channel == r.channel)
                charts_[i]->follow(series_[i].add(r), 0);
        }
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    shownTo_ = std::max(now, shownTo_);
    shownFrom_ = shownTo_ - spanOf(range_);
    for (std::size_t i = 0; i < charts_.size(); ++i) {
        if (const std::size_t dropped = series_[i].dropBefore(shownFrom_); dropped > 0)
            charts_[i]->follow(TrendSeries::Change::None, dropped);
        charts_[i]->setTimeRange(shownFrom_, shownTo_);
    }
}

void TrendWindow::SavePicture_Click()
{
    const QString suggested = QDir(directory_).absoluteFilePath(
        QStringLiteral("trends-%1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Save picture"), suggested, tr("PNG pictures (*.png)"));
    if (!chosen.isEmpty())
        savePicture(chosen);
}

bool TrendWindow::savePicture(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo target(path);
    // Only a regular file is replaced; a link at the name is refused rather than followed or
    // replaced.
    if (target.isSymLink() || (target.exists() && !target.isFile())) {
        dialogs_.notify(tr("\"%1\" is not a regular file: the picture was not saved.").arg(shown), ui::Icon::Warning, {}, this);
        return false;
    }
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!pictureImage().save(&buffer, "PNG")) {
            dialogs_.notify(tr("The picture could not be made."), ui::Icon::Critical, {}, this);
            return false;
        }
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // The bytes are flushed and checked before the commit: on a full disk the commit alone
    // would put an empty file in place of the old one.
    const bool written = file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.flush();
    if (!written || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        dialogs_.notify(tr("The picture could not be saved to \"%1\": %2").arg(shown, reason), ui::Icon::Critical, {}, this);
        return false;
    }
    status_->setText(tr("Picture saved to \"%1\".").arg(shown));
    return true;
}

QString TrendWindow::pictureCaption() const
{
    const auto time = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(kDateTimeFormat); };
    return tr("%1 - trends from %2 to %3").arg(programTitle_.simplified(), time(shownFrom_), time(shownTo_));
}

QImage TrendWindow::pictureImage() const
{
    // The charts whole, also those scrolled out of sight, under a line that says whose and when:
    // a picture passed on or printed carries its period with it.
    QWidget* shown = pages_->currentWidget() == chartsScroll_ ? chartsPage_ : pages_->currentWidget();
    const QImage charts = shown->grab().toImage();
    const qreal ratio = charts.devicePixelRatio();
    const QString caption = pictureCaption();
    const int captionHeight = fontMetrics().height() * 2;
    QImage image(charts.size() + QSize(0, qRound(captionHeight * ratio)), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font());
        painter.setPen(Qt::black);
        painter.drawText(QRectF(8, 0, charts.width() / ratio - 16, captionHeight), Qt::AlignLeft | Qt::AlignVCenter, caption);
        painter.drawImage(QPointF(0, captionHeight), charts);
    }
    image.setText(QStringLiteral("Title"), caption);
    return image;
}

bool TrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == chartsScroll_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        const bool focused = event->type() == QEvent::FocusIn;
        QPalette palette = chartsScroll_->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
        chartsScroll_->setPalette(palette);
        chartsScroll_->setFrameStyle(focused ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
        chartsScroll_->setLineWidth(2);
    }
    return QWidget::eventFilter(watched, event);
}

void TrendWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the window, as it does a dialog's.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TrendWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrangeControls(width());
    resized_.start();
}

} // namespace history
