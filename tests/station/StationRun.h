#pragma once
// zentlog-station run by a test in a process of its own, its log, and the history it leaves.

#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <vector>

namespace testing_support {

// The stations the files of writeStationFiles expect, for SimProcess.
inline QStringList twoStations()
{
    return {QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")};
}

// "config.txt": input 0 the pH station at address 1, input 1 the ORP station at address 2 (both
// "Master"), inputs 2 and 3 unused.
inline QByteArray configText(const QByteArray& tag0, const QByteArray& tag1 = "basin ORP")
{
    return "1,2\r\n\"1\",\"" + tag0 + "\"\r\n1,3\r\n\"2\",\"" + tag1 + "\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n"
           "#TRUE#,#TRUE#,#TRUE#,#TRUE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n";
}

// Replaces a file at once, as an editor that saves atomically does.
inline void replaceFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

// "config.txt" and "PortCom.dat" (COM1, 9600 baud) in `directory`.
inline void writeStationFiles(const QString& directory, const QByteArray& tag0 = "basin pH")
{
    const QDir dir(directory);
    writeFile(dir.filePath(QStringLiteral("config.txt")), configText(tag0));
    writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
}

inline qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Sleeps `ms`, with Qt's events going on.
inline void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// How often `pattern` occurs in `text`.
inline int matches(const QString& text, const QString& pattern)
{
    int n = 0;
    for (auto it = QRegularExpression(pattern).globalMatch(text); it.hasNext(); it.next())
        ++n;
    return n;
}

class Station {
public:
    // Starts zentlog-station on `directory` with COM1 at `device` and `environment` ("NAME=VALUE")
    // added; no display, no notify socket, no other port or folder from the test's environment.
    Station(const QString& directory, const QString& device, const QStringList& environment = {})
    {
        static const QRegularExpression removed(QStringLiteral(
            "^(ZENTLOG_.*|WATCHDOG_.*|DISPLAY|WAYLAND_DISPLAY|QT_QPA_PLATFORM|NOTIFY_SOCKET|QT_MESSAGE_PATTERN)$"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (removed.match(name).hasMatch())
                env.remove(name);
        env.insert(QStringLiteral("ZENTLOG_COM1"), device);
        for (const QString& entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral(ZENTLOG_STATION), {QStringLiteral("--workdir"), directory});
        if (!process_.waitForStarted(5000))
            ADD_FAILURE() << "zentlog-station did not start";
        pid_ = process_.processId();
    }
    ~Station()
    {
        if (running())
            kill();
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    qint64 pid() const { return pid_; }
    bool running() const { return process_.state() == QProcess::Running; }
    // Everything it wrote so far.
    QString log()
    {
        while (process_.waitForReadyRead(0)) {
        }
        log_ += QString::fromLocal8Bit(process_.readAll());
        return log_;
    }
    // Waits until `pattern` occurs `count` times in its log.
    bool waitForLog(const QString& pattern, int count, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (matches(log(), pattern) < count) {
            if (timer.elapsed() > ms || !running())
                return matches(log(), pattern) >= count;
            process_.waitForReadyRead(100);
        }
        return true;
    }
    void signal(int number)
    {
        if (running())
            ::kill(static_cast<pid_t>(pid_), number);
    }
    void kill()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Its exit status once it ended within `ms`; -1 when it did not, or died of a signal.
    int waitForExit(int ms)
    {
        const bool ended = process_.waitForFinished(ms);
        log();
        return ended && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // SIGTERM: the cycle under way ends, and so does the station, within 2 s.
    int terminate()
    {
        signal(SIGTERM);
        return waitForExit(2500);
    }

private:
    QProcess process_;
    QString log_;
    qint64 pid_ = 0;
};

struct Row {
    qint64 id = 0;
    qint64 timeMs = 0;
    int channel = 0;
    QString tag;
    bool ok = false;
    QString outcome;
    bool operator==(const Row&) const = default;
};

// Runs `use` on a read-only connection to the history; nothing when it cannot be opened.
inline void withHistory(const QString& path, const std::function<void(QSqlDatabase&)>& use)
{
    static int connections = 0;
    const QString name = QStringLiteral("station-test-%1").arg(++connections);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open())
            use(db);
    }
    QSqlDatabase::removeDatabase(name);
}

inline std::vector<Row> readRows(const QString& path)
{
    std::vector<Row> rows;
    withHistory(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT id, time_ms, channel, tag, ok, outcome FROM readings ORDER BY id"));
        while (q.next())
            rows.push_back({q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toInt(), q.value(3).toString(),
                            q.value(4).toBool(), q.value(5).toString()});
    });
    return rows;
}

// "ok" for a sound history.
inline QString integrityOf(const QString& path)
{
    QStringList result{QStringLiteral("cannot be opened")};
    withHistory(path, [&](QSqlDatabase& db) {
        result.clear();
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA integrity_check"));
        while (q.next())
            result << q.value(0).toString();
    });
    return result.join(u'\n');
}

} // namespace testing_support
