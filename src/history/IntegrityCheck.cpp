#include "history/IntegrityCheck.h"

#include "common/Logging.h"
#include "history/SqliteHandle.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>


#include <atomic>
#include <chrono>

namespace history {

namespace {

// SQLite's primary result codes for a file that is damaged or is not a database.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

bool isDamage(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    return isNumber && (code == kSqliteCorrupt || code == kSqliteNotADatabase);
}

template <typename Shared>
IntegrityCheck::Result check(const QString& path, Shared& shared)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("zentlog-history-check-%1").arg(++counter);
    IntegrityCheck::Result result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        // Read-only: the check never creates a file, and the recorder's writes go on beside it.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            result.reason = db.lastError().text();
        } else {
            bool cancelled = false;
            {
                const std::lock_guard lock(shared.mutex);
                shared.handle = sqliteHandle(db);
                cancelled = shared.cancelled;
            }
            QSqlQuery query(db);
            query.setForwardOnly(true);
            // One finding is enough to know the file is damaged.
            if (cancelled) {
                result.reason = QStringLiteral("cancelled");
            } else if (!query.exec(QStringLiteral("PRAGMA quick_check(1)"))) {
                result.damaged = isDamage(query.lastError());
                result.reason = query.lastError().databaseText();
            } else {
                QStringList findings;
                while (query.next())
                    findings << query.value(0).toString().simplified();
                if (query.lastError().isValid()) {
                    result.damaged = isDamage(query.lastError());
                    result.reason = query.lastError().databaseText();
                } else if (findings != QStringList{QStringLiteral("ok")}) {
                    result.damaged = true;
                    // The first finding says where; the rest would only lengthen the message.
                    result.reason = findings.value(0).left(200);
                }
            }
            query = QSqlQuery();
            const std::lock_guard lock(shared.mutex);
            shared.handle = nullptr;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

IntegrityCheck::~IntegrityCheck()
{
    cancel();
}

void IntegrityCheck::start(const QString& path)
{
    if (running())
        return;
    shared_.cancelled = false;
    result_ = std::async(std::launch::async, [this, path] { return check(path, shared_); });
}

std::optional<IntegrityCheck::Result> IntegrityCheck::takeResult()
{
    if (!result_.valid() || result_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return std::nullopt;
    Result result = result_.get();
    if (!result.damaged && !result.reason.isEmpty())
        qCInfo(lcHistory) << "the check of the history could not run:" << result.reason;
    return result;
}

void IntegrityCheck::cancel()
{
    if (!result_.valid())
        return;
    // Interrupted again until it ends: an interrupt that comes before the statement starts is lost.
    do {
        const std::lock_guard lock(shared_.mutex);
        shared_.cancelled = true;
        if (shared_.handle)
            sqlite3_interrupt(static_cast<sqlite3*>(shared_.handle));
    } while (result_.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready);
    result_ = {};
}

} // namespace history
