// The trend window on a large history, offscreen: how long each range takes to open, the
// window's peak memory, and its share of a core on the live last hour while a recorder appends.
//   zentlog-bench-trend open DIR                 opens 24 hours, then 30 days, then 24 hours
//   zentlog-bench-trend live DIR SECONDS         the last hour, live, for SECONDS
//   zentlog-bench-trend append DIR SECONDS       appends four readings a second, as a recorder does
// DIR holds "history.sqlite" with channels 0..3.

#include "history/HistorySchema.h"
#include "history/TrendChart.h"
#include "history/TrendWindow.h"
#include "ui/Dialogs.h"

#include "ProcessCpu.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <cstdio>
#include <map>
#include <memory>

#include <sys/resource.h>

using testing_support::cpuSeconds;

namespace {

// The benchmark needs no boxes: they are printed.
class PrintedDialogs final : public ui::Dialogs {
public:
    ui::Answer message(const QString& text, ui::Icon, ui::Buttons, const QString&) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        return ui::Answer::Ok;
    }
    void notify(const QString& text, ui::Icon, const QString&, QWidget*) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
    void ask(const QString& text, ui::Icon, ui::Buttons, const QString&, std::function<void(ui::Answer)> onAnswer,
             QWidget*) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        onAnswer(ui::Answer::No);
    }
    void beep() override {}
};

long peakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::vector<history::TrendChannel> fourChannels()
{
    return {{0, QStringLiteral("PH INLET"), QStringLiteral("pH")},
            {1, QStringLiteral("O2 BASIN"), QStringLiteral("Oxygen")},
            {2, QStringLiteral("FLOW OUT"), QStringLiteral("Flow")},
            {3, QStringLiteral("TEMP"), QStringLiteral("Temperature")}};
}

int points(const history::TrendWindow& window)
{
    int n = 0;
    for (int i = 0; i < window.chartCount(); ++i)
        n += window.chart(i)->valuePointCount();
    return n;
}

// The trend window of the four channels, shown and left to settle for `settleMs` (its first
// read of the file, its first drawing), sleeping while nothing happens.
std::unique_ptr<history::TrendWindow> shownWindow(ui::Dialogs& dialogs, const QString& dir, int settleMs)
{
    auto window = std::make_unique<history::TrendWindow>(dialogs, QStringLiteral("ZENTLOG"), dir, fourChannels());
    window->resize(1280, 900);
    window->Form_Load();
    QEventLoop settle;
    QTimer::singleShot(settleMs, &settle, &QEventLoop::quit);
    settle.exec();
    return window;
}

int open(const QString& dir)
{
    PrintedDialogs dialogs;
    const auto shown = shownWindow(dialogs, dir, 1500);
    history::TrendWindow& window = *shown;
    std::printf("columns: %d\n", window.columns());
    for (auto range : {history::TrendWindow::Range::Day, history::TrendWindow::Range::Month,
                       history::TrendWindow::Range::Day, history::TrendWindow::Range::Month}) {
        QElapsedTimer clock;
        clock.start();
        window.setRange(range);
        while (window.loading())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(); // drawn once
        const qint64 ms = clock.elapsed();
        std::printf("%s: %lld ms, %d points, %s\n", range == history::TrendWindow::Range::Day ? "24 hours" : "30 days",
                    static_cast<long long>(ms), points(window), qPrintable(window.Status()->text()));
    }
    std::printf("peak resident memory: %.1f MB\n", double(peakKb()) / 1024.0);
    return 0;
}

// Counts the events the application delivers, by type: a window that only waits for its
// one-second tick should see few.
class EventCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        ++counts[int(event->type())];
        if (event->type() == QEvent::Timer)
            ++timers[QString::fromLatin1(watched->metaObject()->className())];
        return false;
    }
    std::map<int, long> counts;
    std::map<QString, long> timers;
};

int live(const QString& dir, int seconds)
{
    PrintedDialogs dialogs;
    const auto shown = shownWindow(dialogs, dir, 2000);
    history::TrendWindow& window = *shown;
    const int before = points(window);
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    EventCounter counter;
    qApp->installEventFilter(&counter);
    QApplication::exec();
    qApp->removeEventFilter(&counter);
    for (const auto& [type, n] : counter.counts) {
        if (n >= seconds * 10)
            std::printf("event type %d: %ld\n", type, n);
    }
    for (const auto& [name, n] : counter.timers) {
        if (n >= seconds * 10)
            std::printf("timer events of %s: %ld\n", qPrintable(name), n);
    }
    const double cpu = cpuSeconds() - cpu0;
    const double wall = double(clock.elapsed()) / 1000.0;
    std::printf("live last hour, %d s: %.3f s CPU, %.2f %% of a core; points %d -> %d; peak memory %.1f MB\n", seconds,
                cpu, 100.0 * cpu / wall, before, points(window), double(peakKb()) / 1024.0);
    return 0;
}

// Brings a file of the first layout to the last layout with a readings table (5), its readings
// summed up by minute, as the program before the compact layout kept it: the figures before.
// The compact layout is made from it by "zentlog-history convert".
int upgrade(const QString& dir)
{
    QElapsedTimer clock;
    clock.start();
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("upgrade"));
        db.setDatabaseName(QDir(dir).filePath(QString::fromLatin1(history::kHistoryFileName)));
        problem = db.open() ? history::ensureSchema(db) : db.lastError().text();
        QSqlQuery query(db);
        if (problem.isEmpty()
            && (!query.exec(QString::fromLatin1(history::kFillMinutes))
                || !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(history::kLastTableLayout))))
            problem = query.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("upgrade"));
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "upgrade: %s\n", qPrintable(problem));
        return 1;
    }
    std::printf("brought to the current layout in %.2f s\n", double(clock.elapsed()) / 1000.0);
    return 0;
}

int append(const QString& dir, int seconds)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("append"));
    db.setDatabaseName(QDir(dir).filePath(QString::fromLatin1(history::kHistoryFileName)));
    if (!db.open()) {
        std::fprintf(stderr, "append: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, text)"
                                  " VALUES (?, ?, 'BENCH', 'pH', 1, ?, 'pH', 20.5, 'value')"));
    for (int s = 0; s < seconds; ++s) {
        db.transaction();
        for (int c = 0; c < 4; ++c) {
            insert.addBindValue(QDateTime::currentMSecsSinceEpoch());
            insert.addBindValue(c);
            insert.addBindValue(7.0 + (s % 60) / 100.0);
            insert.exec();
        }
        db.commit();
        QThread::msleep(1000);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: zentlog-bench-trend upgrade|open|live|append DIR [SECONDS]\n");
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    if (mode == QLatin1String("append") || mode == QLatin1String("upgrade")) {
        QCoreApplication app(argc, argv);
        return mode == QLatin1String("append") ? append(dir, seconds) : upgrade(dir);
    }
    QApplication app(argc, argv);
    if (mode == QLatin1String("open"))
        return open(dir);
    if (mode == QLatin1String("live"))
        return live(dir, seconds);
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
