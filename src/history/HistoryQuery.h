#pragma once
// Reading "history.sqlite" beside a program that may be recording into it: a read-only
// connection of its own, and what the file holds per channel.

#include <QList>
#include <QSqlDatabase>
#include <QString>

class QSqlError;

namespace history {

// How a reader shares the file with a recorder.
enum class ReadMode {
    // Stays open beside a recorder and sees every transaction it commits (the trend window).
    // SQLite needs "-wal" and "-shm" files beside a WAL database for that; it makes them when
    // they are missing and a reader that cannot write leaves them there.
    Following,
    // Reads the file as it is now and leaves nothing beside it (the command-line tool). Without
    // a journal beside the file no recorder is writing into it, and SQLite is told the file does
    // not change ("immutable"), which needs neither files beside it nor a writable folder; with
    // a journal beside it, the journal's readings are read through the files already there.
    Once,
};

// A read-only connection to a history file, closed and removed with the object. Every query made
// on database() must be gone before the object is.
class ReadOnlyHistory {
public:
    ReadOnlyHistory() = default;
    ~ReadOnlyHistory();
    ReadOnlyHistory(const ReadOnlyHistory&) = delete;
    ReadOnlyHistory& operator=(const ReadOnlyHistory&) = delete;

    // An empty string when open, otherwise the reason for the user. Anything but a regular file
    // is refused before SQLite opens it: a FIFO at the name would make the open wait for ever.
    // Following, a file whose table list or newest readings are damaged is refused as damaged.
    QString open(const QString& path, ReadMode mode = ReadMode::Following);
    // Reads the file's table list: an empty string when it is a history, otherwise why not (not
    // a database, an empty file, no table "readings", a folder SQLite cannot read in).
    QString checkIsHistory() const;
    // The message for a read of this file that failed with `error`.
    QString readFailure(const QSqlError& error) const;
    void close();
    QSqlDatabase database() const;

private:
    QString damageAtOpen() const;

    QString connection_;
    QString path_;
};

// "The history file "X" could not be read: <why>", with SQLite's reason put into words where a
// bare one would mislead (a read-only folder, a journal that needs a file beside it); a damaged
// file is said to be damaged, with what the measurement does with it and how to rescue it.
QString historyReadFailure(const QString& path, const QSqlError& error);

struct ChannelSummary {
    int channel = 0; // 0..3
    qint64 rows = 0;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
};

struct HistorySummary {
    QString error; // empty when the rest is valid
    qint64 fileBytes = 0;
    // Readings committed but not yet moved into the file itself wait in its "-wal" journal.
    qint64 journalBytes = 0;
    QList<ChannelSummary> channels; // those with rows, in channel order
};

HistorySummary summarizeHistory(const QString& path, ReadMode mode = ReadMode::Following);

} // namespace history
