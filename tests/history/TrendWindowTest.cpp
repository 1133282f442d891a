// The trend window offscreen on generated histories: points per range against the pixel columns,
// the live append, failures as gaps and bands, zoom and back, the crosshair, the picture, a file
// that is missing, empty or not a file, and the main window's command.

#include "history/TrendWindow.h"

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "history/TrendChart.h"
#include "serial/FakeSerialControl.h"

#include "HistoryFiles.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"
#include "TrendTestData.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>

#include <sys/stat.h>

using history::TrendChart;
using history::TrendWindow;
using history_test::failedReading;
using history_test::goodReading;
using history_test::Reading;
using testing_support::ScriptedDialogs;

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

class TrendWindowTest : public ::testing::Test {
protected:
    QString path() const { return QDir(dir.path()).filePath(QStringLiteral("history.sqlite")); }

    TrendWindow& load(std::vector<history::TrendChannel> channels = {{0, QStringLiteral("Tank pH"), QStringLiteral("pH")}})
    {
        window = std::make_unique<TrendWindow>(dialogs, QStringLiteral("ZENTLOG"), dir.path(), std::move(channels));
        window->Form_Load();
        // Once laid out, the charts know their plot width; the window reads again for it.
        QTest::qWait(500);
        waitRead(*window);
        return *window;
    }

    // A period is read in slices between the other events: until the last one.
    static void waitRead(const TrendWindow& w)
    {
        QElapsedTimer clock;
        clock.start();
        while (w.loading() && clock.elapsed() < 60'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_FALSE(w.loading());
    }

    // The distinct buckets with a value the window's period and columns give for `times`.
    static std::size_t expectedPoints(const TrendWindow& w, const std::vector<qint64>& times)
    {
        const history::TrendGrid& grid = w.grid();
        std::set<qint64> buckets;
        for (qint64 t : times) {
            if (t >= grid.fromMs && t < grid.toMs)
                buckets.insert(grid.bucketOf(t));
        }
        return buckets.size();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TrendWindow> window;
};

TEST_F(TrendWindowTest, EachRangeHoldsNoMorePointsThanPixelColumns)
{
    // 31 days of one reading a minute, and the last two hours one every 5 s.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<Reading> readings;
    std::vector<qint64> times;
    for (qint64 t = now - 31 * kDay; t < now - 2 * kHour; t += 60 * kSecond)
        times.push_back(t);
    for (qint64 t = now - 2 * kHour; t < now - 10 * kSecond; t += 5 * kSecond)
        times.push_back(t);
    for (qint64 t : times)
        readings.push_back(goodReading(0, t, 7.0 + double(t % 1000) / 1000.0));
    history_test::addReadings(path(), readings);

    TrendWindow& w = load();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ZENTLOG [Trends]"));
    const int viewWidth = w.chart(0)->viewport()->width();
    for (auto range : {TrendWindow::Range::LastHour, TrendWindow::Range::Day, TrendWindow::Range::Week,
                       TrendWindow::Range::Month}) {
        SCOPED_TRACE(int(range));
        w.setRange(range);
        waitRead(w);
        EXPECT_LE(w.columns(), viewWidth);
        EXPECT_EQ(w.chart(0)->valuePointCount(), int(expectedPoints(w, times)));
        EXPECT_LE(w.chart(0)->valuePointCount(), w.columns());
        EXPECT_EQ(w.chart(0)->runCount(), 1);
        EXPECT_EQ(w.notice(), QString());
    }
    // 30 days hold far more readings than columns: many per point.
    EXPECT_GT(times.size(), std::size_t(10 * w.columns()));
}

TEST_F(TrendWindowTest, LiveReadingsAddOnePointEachAndFailuresAreGapsWithABand)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<Reading> readings;
    // Readings 20 s apart, far more than a bucket (an hour over under 4000 columns).
    for (qint64 t = now - 50 * 60 * kSecond; t < now - 10 * 60 * kSecond; t += 20 * kSecond)
        readings.push_back(goodReading(0, t, 7.5, 21.0));
    history_test::addReadings(path(), readings);
    TrendWindow& w = load();
    const int before = w.chart(0)->valuePointCount();
    EXPECT_EQ(before, int(readings.size()));
    EXPECT_TRUE(w.chart(0)->failureBand().empty());

    // Three good readings, then a station that does not answer, then two good ones.
    std::vector<Reading> fresh;
    qint64 t = readings.back().timeMs + 20 * kSecond;
    for (int i = 0; i < 3; ++i, t += 20 * kSecond)
        fresh.push_back(goodReading(0, t, 7.6, 21.5));
    const qint64 failedAt = t;
    for (int i = 0; i < 4; ++i, t += 20 * kSecond)
        fresh.push_back(failedReading(0, t));
    for (int i = 0; i < 2; ++i, t += 20 * kSecond)
        fresh.push_back(goodReading(0, t, 7.7, 21.5));
    fresh.push_back(goodReading(1, t, 1.0)); // another channel: not on this window
    history_test::addReadings(path(), fresh);
    w.tick();

    EXPECT_EQ(w.chart(0)->valuePointCount(), before + 5);
    EXPECT_EQ(w.chart(0)->runCount(), 2); // the failures split the line
    for (const QPointF& p : w.chart(0)->valuePoints())
        EXPECT_GE(p.y(), 7.5); // no point at zero
    const std::vector<QPointF> band = w.chart(0)->failureBand();
    ASSERT_EQ(band.size(), 4u); // one span
    EXPECT_LE(band.front().x(), double(failedAt));
    EXPECT_GE(band.back().x(), double(failedAt + 3 * 20 * kSecond));

    // A reading from a clock an hour ahead stays out of the live line, and the next ones go on.
    history_test::addReadings(path(), {goodReading(0, now + kHour, 7.9)});
    w.tick();
    history_test::addReadings(path(), {goodReading(0, t, 7.7, 21.5)});
    w.tick();
    EXPECT_EQ(w.chart(0)->valuePointCount(), before + 6);
    EXPECT_NEAR(w.chart(0)->valuePoints().back().x(), double(t), 1.0);

    // Nothing new: nothing added; the time axis has moved on to now.
    w.tick();
    EXPECT_EQ(w.chart(0)->valuePointCount(), before + 6);
    EXPECT_GE(w.chart(0)->timeTo(), now);
    EXPECT_EQ(w.chart(0)->timeTo() - w.chart(0)->timeFrom(), kHour);
}

TEST_F(TrendWindowTest, TheOldestPointsLeaveAsTheLivePeriodMovesOn)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<Reading> readings;
    // The first reading leaves the hour within two seconds.
    readings.push_back(goodReading(0, now - kHour + 1500, 7.1));
    for (qint64 t = now - 30 * 60 * kSecond; t < now - 10 * kSecond; t += 30 * kSecond)
        readings.push_back(goodReading(0, t, 7.2));
    history_test::addReadings(path(), readings);
    TrendWindow& w = load();
    const int before = w.chart(0)->valuePointCount();
    ASSERT_EQ(before, int(readings.size()));
    QElapsedTimer clock;
    clock.start();
    while (w.chart(0)->valuePointCount() == before && clock.elapsed() < 10'000)
        QTest::qWait(200);
    EXPECT_EQ(w.chart(0)->valuePointCount(), before - 1);
    EXPECT_GT(w.chart(0)->valuePoints().front().x(), double(now - kHour + 1500));
}

TEST_F(TrendWindowTest, ZoomShowsTheDraggedSpanAndBackReturnsToTheLiveHour)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<Reading> readings;
    for (qint64 t = now - kHour; t < now; t += 2 * kSecond)
        readings.push_back(goodReading(0, t, 7.0 + double((t / 1000) % 60) / 100.0));
    history_test::addReadings(path(), readings);
    TrendWindow& w = load();
    TrendChart* chart = w.chart(0);
    const QRectF plot = chart->chart()->plotArea();
    ASSERT_GT(plot.width(), 100);

    // Drag over the middle fifth of the plot.
    const QPoint start = chart->mapFromScene(chart->chart()->mapToScene(QPointF(plot.left() + plot.width() * 0.4, plot.center().y())));
    const QPoint end = chart->mapFromScene(chart->chart()->mapToScene(QPointF(plot.left() + plot.width() * 0.6, plot.center().y())));
    QTest::mousePress(chart->viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(chart->viewport(), (start + end) / 2);
    QTest::mouseMove(chart->viewport(), end);
    QTest::mouseRelease(chart->viewport(), Qt::LeftButton, {}, end);
    QCoreApplication::processEvents();
    waitRead(w);
    EXPECT_EQ(w.range(), TrendWindow::Range::Chosen);
    EXPECT_NEAR(double(w.toMs() - w.fromMs()), 0.2 * double(kHour), 0.02 * double(kHour));
    EXPECT_TRUE(w.BackButton()->isEnabled());
    // The shorter span is read again: a point per reading now (2 s apart, buckets under 1 s).
    EXPECT_EQ(chart->valuePointCount(), int(expectedPoints(w, [&] {
                  std::vector<qint64> times;
                  for (const Reading& r : readings)
                      times.push_back(r.timeMs);
                  return times;
              }())));

    // The crosshair over a reading names its time, value and temperature, with the station's digits.
    const qint64 at = readings[readings.size() / 2].timeMs;
    chart->showCrosshairAt(at);
    const QString text = chart->crosshairText();
    EXPECT_TRUE(text.contains(QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("HH:mm:ss")))) << text.toStdString();
    const QString value = QString::number(readings[readings.size() / 2].value.toDouble(), 'f', 2);
    EXPECT_TRUE(text.contains(QStringLiteral(":%1   %2 pH").arg(QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("ss")), value)))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("   20.0 °C"))) << text.toStdString();
    // Zoomed in to readings far apart on the screen, between two of them: the nearer one's value.
    w.showPeriod(at - 10 * kSecond, at + 10 * kSecond);
    waitRead(w);
    chart->showCrosshairAt(at + 900);
    EXPECT_TRUE(chart->crosshairText().contains(value + QStringLiteral(" pH"))) << chart->crosshairText().toStdString();

    // The wheel zooms in around the mouse.
    const qint64 span = w.toMs() - w.fromMs();
    QWheelEvent wheel(QPointF(plot.center()), chart->mapToGlobal(plot.center().toPoint()), {}, QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(chart->viewport(), &wheel);
    waitRead(w);
    EXPECT_LT(w.toMs() - w.fromMs(), span);

    w.Back_Click();
    waitRead(w);
    EXPECT_EQ(w.toMs() - w.fromMs(), span);
    // "Back" puts another time under the crosshair, and the crosshair says so.
    const QString before = chart->crosshairText();
    w.Back_Click();
    waitRead(w);
    EXPECT_NE(chart->crosshairText(), before);
    EXPECT_FALSE(chart->crosshairText().isEmpty());
    EXPECT_EQ(w.range(), TrendWindow::Range::LastHour);
    EXPECT_FALSE(w.BackButton()->isEnabled());
    EXPECT_GE(w.toMs(), now);
}

TEST_F(TrendWindowTest, ThirtyDaysAreReadWhileTheOtherTimersKeepTheirTicks)
{
    // 30 days of four channels, a reading every 5 s (2 million rows), made by the sqlite3 shell.
    // The readings run on ten minutes past the present: on a loaded machine the shell takes
    // minutes, and the window's last column (which starts at the minute it opens) must hold some.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 steps = (30 * kDay + 10 * kMinute) / (5 * kSecond);
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path()});
    ASSERT_TRUE(shell.waitForStarted());
    shell.write(QStringLiteral(
        "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
        "CREATE TABLE readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL,"
        " tag TEXT NOT NULL, type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL,"
        " value2 REAL, unit2 TEXT, total_day REAL, total REAL, text TEXT NOT NULL);"
        "BEGIN; WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < %1 - 1)"
        " INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, text)"
        " SELECT %2 + i * 5000 + c * 40, c, 'T', 'pH', 1, 7 + (i % 100) / 100.0, 'pH', 20, ''"
        " FROM s, (SELECT 0 AS c UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3); COMMIT;"
        "CREATE INDEX readings_channel_time ON readings (channel, time_ms); PRAGMA user_version = 1;\n")
                    .arg(steps)
                    .arg(now - 30 * kDay)
                    .toUtf8());
    shell.closeWriteChannel();
    ASSERT_TRUE(shell.waitForFinished(240'000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();

    TrendWindow& w = load({{0, QStringLiteral("A"), {}}, {1, QStringLiteral("B"), {}}, {2, QStringLiteral("C"), {}},
                           {3, QStringLiteral("D"), {}}});
    // The measurement's timer stands for all others: its longest wait while 30 days are read.
    QTimer other;
    other.setInterval(20);
    QElapsedTimer sinceLast;
    qint64 longest = 0;
    int ticks = 0;
    QObject::connect(&other, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceLast.restart());
        ++ticks;
    });
    QElapsedTimer reading;
    reading.start();
    w.setRange(TrendWindow::Range::Month);
    sinceLast.start();
    other.start();
    waitRead(w);
    const qint64 took = reading.elapsed();
    // A live tick moves the period on by a second: the first column, which the period still
    // reaches into, stays.
    w.tick();
    EXPECT_EQ(w.chart(3)->valuePointCount(), w.columns());
    EXPECT_GT(ticks, 2) << "read in " << took << " ms";
    // Slices of 25 ms; the limit leaves room for a loaded machine and for drawing a chart.
    EXPECT_LT(longest, 400) << "read in " << took << " ms";
}

TEST_F(TrendWindowTest, AMissingOrEmptyHistorySaysSoUntilReadingsCome)
{
    TrendWindow& w = load();
    EXPECT_EQ(w.notice(), QStringLiteral("No readings recorded yet."));
    EXPECT_TRUE(dialogs.boxes.isEmpty());

    // The recorder creates the file: still nothing to show.
    history_test::addReadings(path(), {});
    w.tick();
    EXPECT_EQ(w.notice(), QStringLiteral("No readings recorded yet."));

    // The first readings bring the chart up.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history_test::addReadings(path(), {goodReading(0, now - 60 * kSecond, 6.5), goodReading(0, now - 30 * kSecond, 6.6)});
    w.tick();
    waitRead(w);
    EXPECT_EQ(w.notice(), QString());
    EXPECT_EQ(w.chart(0)->valuePointCount(), 2);
}

TEST_F(TrendWindowTest, APipeOrAFileOfAnotherKindIsNeitherWaitedOnNorTouched)
{
    // A FIFO at the name would make SQLite's open wait for a writer for ever.
    ASSERT_EQ(mkfifo(path().toLocal8Bit().constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    TrendWindow& w = load();
    w.tick();
    EXPECT_LT(clock.elapsed(), 20'000);
    EXPECT_TRUE(w.notice().contains(QStringLiteral("not a regular file"))) << w.notice().toStdString();
    window.reset();
    QFile::remove(path());

    // Text where the history should be: said, and the file stays as it was.
    testing_support::writeFile(path(), "not a database at all\n");
    TrendWindow& again = load();
    EXPECT_TRUE(again.notice().contains(QStringLiteral("is damaged"))) << again.notice().toStdString();
    EXPECT_TRUE(again.notice().contains(QStringLiteral("zentlog-history recover")));
    EXPECT_EQ(testing_support::readFile(path()), QByteArray("not a database at all\n"));
}

TEST_F(TrendWindowTest, AFileLockedByItsWriterIsReadOnALaterTickWithoutHoldingTheWindow)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history_test::addReadings(path(), {goodReading(0, now - 60 * kSecond, 6.5), goodReading(0, now - 30 * kSecond, 6.6)});
    TrendWindow& w = load();
    ASSERT_EQ(w.chart(0)->valuePointCount(), 2);

    // A writer in the middle of its commit holds the file exclusively (a rollback journal, as
    // an older history has): nobody reads until it is done.
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {path()});
    ASSERT_TRUE(writer.waitForStarted());
    writer.write("BEGIN EXCLUSIVE;\nSELECT 'holding';\n");
    QByteArray out;
    while (!out.contains("holding") && writer.waitForReadyRead(5000))
        out += writer.readAllStandardOutput();
    ASSERT_TRUE(out.contains("holding"));

    QElapsedTimer clock;
    clock.start();
    w.setRange(TrendWindow::Range::LastHour); // read again
    waitRead(w);
    // The default wait of the SQLite driver would be 5 s per query.
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(w.Status()->text().contains(QStringLiteral("busy"))) << w.Status()->text().toStdString();
    EXPECT_EQ(w.notice(), QString());

    writer.write("COMMIT;\n.quit\n");
    writer.closeWriteChannel();
    ASSERT_TRUE(writer.waitForFinished(10'000));
    clock.restart();
    while (w.chart(0)->valuePointCount() < 2 && clock.elapsed() < 10'000)
        QTest::qWait(100);
    EXPECT_EQ(w.chart(0)->valuePointCount(), 2);
    EXPECT_FALSE(w.Status()->text().contains(QStringLiteral("busy")));
}

TEST_F(TrendWindowTest, SavePictureWritesAPngAndNeverSpoilsWhatIsThere)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history_test::addReadings(path(), {goodReading(0, now - 60 * kSecond, 6.5), goodReading(0, now - 30 * kSecond, 6.6)});
    TrendWindow& w = load();
    const QString picture = QDir(dir.path()).filePath(QStringLiteral("trend.png"));
    ASSERT_TRUE(w.savePicture(picture));
    // Once the window is wider, the picture is the charts' white to its right edge, under a line
    // with the installation and the period.
    w.resize(w.width() + 200, w.height());
    QTest::qWait(100);
    ASSERT_TRUE(w.savePicture(picture));
    const QImage image(picture);
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 200);
    EXPECT_EQ(image.pixel(image.width() - 3, image.height() / 2), qRgb(255, 255, 255));
    EXPECT_EQ(image.text(QStringLiteral("Title")), w.pictureCaption());
    EXPECT_TRUE(w.pictureCaption().startsWith(QStringLiteral("ZENTLOG - trends from ")));
    EXPECT_TRUE(w.pictureCaption().contains(QDateTime::fromMSecsSinceEpoch(w.toMs()).toString(QStringLiteral("yyyy-MM-dd HH:mm"))));

    // A link at the name is refused, and what it points at stays.
    const QString precious = QDir(dir.path()).filePath(QStringLiteral("precious.txt"));
    testing_support::writeFile(precious, "keep me");
    const QString link = QDir(dir.path()).filePath(QStringLiteral("link.png"));
    ASSERT_TRUE(QFile::link(precious, link));
    EXPECT_FALSE(w.savePicture(link));
    EXPECT_EQ(testing_support::readFile(precious), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_FALSE(dialogs.boxes[0].waited);

    // A full disk: the message, and the earlier picture stays whole.
    history_test::TmpFs disk("512k");
    if (!disk.mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    const QString onDisk = QDir(disk.path()).filePath(QStringLiteral("trend.png"));
    ASSERT_TRUE(w.savePicture(onDisk));
    const QByteArray first = testing_support::readFile(onDisk);
    disk.fill(QStringLiteral("filler"));
    EXPECT_FALSE(w.savePicture(onDisk));
    EXPECT_EQ(testing_support::readFile(onDisk), first);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral("could not be saved"))) << dialogs.boxes[1].text.toStdString();
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file left
}

// From the keyboard: every Tab stop shows that it has the focus, and Escape closes the window.
TEST_F(TrendWindowTest, EveryTabStopShowsItsFocusAndEscapeCloses)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history_test::addReadings(path(), {goodReading(0, now - 60 * kSecond, 6.5), goodReading(1, now - 30 * kSecond, 6.6)});
    TrendWindow& w = load({{0, {}, {}}, {1, {}, {}}});
    w.activateWindow();
    w.RangeBox()->setFocus();
    std::set<QWidget*> stops;
    for (int i = 0; i < 12 && stops.insert(QApplication::focusWidget()).second; ++i) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        // Controls that draw their own focus, or the charts' frame.
        const bool shows = qobject_cast<QComboBox*>(focused) || qobject_cast<QPushButton*>(focused) ||
                           qobject_cast<QAbstractSpinBox*>(focused) ||
                           (qobject_cast<QFrame*>(focused) && qobject_cast<QFrame*>(focused)->frameShape() != QFrame::NoFrame);
        EXPECT_TRUE(shows) << focused->metaObject()->className() << " " << focused->objectName().toStdString();
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_GE(stops.size(), 3u);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST(TrendMenu, TrendsOpensOneChartPerSelectedChannelWithItsTag)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    testing_support::writeFile(QDir(dir.path()).filePath(QStringLiteral("config.txt")),
                               "1,2\r\n\"1\",\"Tank pH\"\r\n0,1\r\n\"2\",\"Rinse\"\r\n1,-1\r\n\"3\",\"No type\"\r\n"
                               "1,5\r\n\"4\",\"Pump A\"\r\n"
                               "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n");
    app::Application application(dialogs, std::make_unique<serial::FakeSerialControl>(), dir.path());
    application.setQuitHandler([] {});
    application.mainWindow().Form_Load();
    QAction* trends = application.mainWindow().findChild<QAction*>(QStringLiteral("Trends"));
    ASSERT_NE(trends, nullptr);
    EXPECT_EQ(trends->text(), QStringLiteral("&Trends"));
    trends->trigger();
    TrendWindow* w = application.trendWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->windowTitle().endsWith(QStringLiteral(" [Trends]")));
    ASSERT_EQ(w->chartCount(), 2);
    EXPECT_EQ(w->chart(0)->chart()->title(), QStringLiteral("Tank pH"));
    EXPECT_EQ(w->chart(1)->chart()->title(), QStringLiteral("Pump A"));
    EXPECT_EQ(w->notice(), QStringLiteral("No readings recorded yet."));
    trends->trigger();
    EXPECT_EQ(application.trendWindow(), w);
}

} // namespace
