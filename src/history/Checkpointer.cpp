#include "history/Checkpointer.h"

#include <sqlite3.h>

#include <chrono>

namespace history {

namespace {

template <typename Shared>
Checkpointer::Result checkpoint(const QString& path, Shared& shared)
{
    Checkpointer::Result result;
    sqlite3* db = nullptr;
    // Read-write without create: a file that has gone is not made again here.
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        result.problem = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return result;
    }
    // The connection only reads the log and writes pages of the file: it never checkpoints by
    // itself, and it waits a little for the lock a starting reader holds.
    sqlite3_busy_timeout(db, 200);
    bool cancelled = false;
    {
        const std::lock_guard lock(shared.mutex);
        shared.handle = db;
        cancelled = shared.cancelled;
    }
    int logFrames = 0;
    int copiedFrames = 0;
    // A new connection finds the log only when it first reads the file: before that, a checkpoint
    // takes the file for one without a log and does nothing at all.
    int rc = cancelled ? SQLITE_INTERRUPT : sqlite3_exec(db, "SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copiedFrames);
    if (rc != SQLITE_OK) {
        result.problem = QString::fromUtf8(sqlite3_errmsg(db));
    } else if (logFrames < 0) {
        result.problem = QStringLiteral("the file has no write-ahead log");
    } else {
        result.logFrames = logFrames;
        result.complete = copiedFrames == logFrames;
    }
    {
        const std::lock_guard lock(shared.mutex);
        shared.handle = nullptr;
    }
    sqlite3_close(db);
    return result;
}

} // namespace

Checkpointer::~Checkpointer()
{
    cancel();
}

void Checkpointer::start(const QString& path)
{
    if (running())
        return;
    shared_.cancelled = false;
    result_ = std::async(std::launch::async, [this, path] { return checkpoint(path, shared_); });
}

std::optional<Checkpointer::Result> Checkpointer::takeResult()
{
    if (!result_.valid() || result_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return std::nullopt;
    return result_.get();
}

void Checkpointer::cancel()
{
    if (!result_.valid())
        return;
    // Interrupted again until it ends: an interrupt before the checkpoint starts is lost.
    do {
        const std::lock_guard lock(shared_.mutex);
        shared_.cancelled = true;
        if (shared_.handle)
            sqlite3_interrupt(static_cast<sqlite3*>(shared_.handle));
    } while (result_.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready);
    result_ = {};
}

} // namespace history
