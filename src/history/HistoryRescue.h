#pragma once
// Keeps what a history file held after its name was taken from it (removed, or replaced by
// another file) while the recorder still had it open: its readings, minutes and acknowledgements
// are copied into "history.sqlite.rescued-YYYYMMDD-HHMMSS", a slice per measurement cycle so that
// no cycle waits for it, while the recorder writes a new file at the name.
//
// The new file at the name gets "-wal" and "-shm" files of the same names as the lost file's had.
// SQLite refuses to write a file whose name is gone, so the lost file's connection never
// checkpoints nor deletes them when it closes; its WAL is also made persistent, so that closing it
// never touches a name whatever the SQLite version.

#include <QSqlDatabase>
#include <QString>

namespace history {

class HistoryRescue {
public:
    // Takes over the open connection `connectionName` to the lost file and makes the copy's file.
    // ready() tells whether the lost file's connection can be closed with a new file at the name.
    HistoryRescue(const QString& connectionName, const QString& rescuedPath);
    ~HistoryRescue();
    HistoryRescue(const HistoryRescue&) = delete;
    HistoryRescue& operator=(const HistoryRescue&) = delete;

    // The copy can go on in slices while a new file lives at the name.
    bool ready() const { return ready_; }
    // Copies for about `budgetMs`; true once everything is copied or the copy failed.
    bool step(int budgetMs);
    // Copies what is left, however long it takes (when the recorder stops).
    void finish();

    bool failed() const { return !problem_.isEmpty(); }
    QString problem() const { return problem_; }
    qint64 copiedReadings() const { return copied_; }
    QString rescuedPath() const { return rescuedPath_; }

private:
    bool copySlice();
    void fail(const QString& reason);
    void close();

    QString connectionName_;
    QString rescuedPath_;
    QSqlDatabase db_;
    bool ready_ = false;
    bool done_ = false;
    QString problem_;
    // Where the copy stands: readings by id, then minutes by (channel, minute), then the rest.
    enum class Stage { Readings, Minutes, Acked, Done } stage_ = Stage::Readings;
    qint64 lastId_ = -1;
    qint64 lastChannel_ = -1;
    qint64 lastMinute_ = 0;
    qint64 copied_ = 0;
};

} // namespace history
