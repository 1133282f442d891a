#include "HistoryFiles.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sys/mount.h>

#include <atomic>

namespace history_test {

std::vector<measure::Reading> cycleReadings(qint64 cycle, int channels, qint64 timeMs)
{
    std::vector<measure::Reading> readings;
    const qint64 base = timeMs >= 0 ? timeMs : QDateTime::currentMSecsSinceEpoch();
    for (int channel = 0; channel < channels; ++channel) {
        measure::Reading r;
        r.timeMs = base + channel;
        r.channel = channel;
        r.tag = QStringLiteral("cycle %1").arg(cycle);
        r.typeName = QStringLiteral("pH");
        r.ok = channel != 3;
        if (r.ok) {
            r.shown.text = QStringLiteral("   %1.00 pH     ###0.0  \u00B0C").arg(cycle % 14);
            r.shown.value = double(cycle % 14);
            r.shown.unit = QStringLiteral("pH");
            r.shown.temperature = 20.5;
        } else {
            r.shown.text = QStringLiteral("Out of order");
        }
        readings.push_back(std::move(r));
    }
    return readings;
}

QVariant queryValue(const QString& databasePath, const QString& sql)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("history-test-%1").arg(++counter);
    QVariant result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                result = query.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

qint64 rowCount(const QString& databasePath)
{
    const QVariant count = queryValue(databasePath, QStringLiteral("SELECT count(*) FROM readings"));
    return count.isValid() ? count.toLongLong() : -1;
}

TmpFs::TmpFs(const char* size)
    : options_(QStringLiteral("size=%1").arg(QLatin1String(size)))
{
    mounted_ = ::mount("tmpfs", dir_.path().toLocal8Bit().constData(), "tmpfs", 0,
                       options_.toLatin1().constData())
        == 0;
}

TmpFs::~TmpFs()
{
    if (mounted_)
        ::umount2(dir_.path().toLocal8Bit().constData(), MNT_DETACH);
}

bool TmpFs::setReadOnly(bool readOnly)
{
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", dir_.path().toLocal8Bit().constData(), "tmpfs", flags, options_.toLatin1().constData())
        == 0;
}

void TmpFs::fill(const QString& name) const
{
    QFile filler(dir_.filePath(name));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(4096, 'f');
    while (filler.write(block) > 0) {
    }
    // The last partial block too.
    const QByteArray byte(1, 'f');
    while (filler.write(byte) > 0) {
    }
}

LockHolder::LockHolder(const QString& databasePath)
{
    shell_.start(QStringLiteral("sqlite3"), {databasePath});
    if (!shell_.waitForStarted(10000))
        return;
    shell_.write("BEGIN IMMEDIATE;\nSELECT 'holding';\n");
    const QDateTime until = QDateTime::currentDateTime().addSecs(20);
    QByteArray out;
    while (!out.contains("holding") && QDateTime::currentDateTime() < until && shell_.waitForReadyRead(1000))
        out += shell_.readAllStandardOutput();
    holding_ = out.contains("holding");
}

LockHolder::~LockHolder()
{
    release();
}

void LockHolder::release()
{
    if (shell_.state() == QProcess::NotRunning)
        return;
    shell_.write("COMMIT;\n.quit\n");
    shell_.closeWriteChannel();
    if (!shell_.waitForFinished(10000))
        shell_.kill();
    shell_.waitForFinished(5000);
    holding_ = false;
}

} // namespace history_test
