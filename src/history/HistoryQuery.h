#pragma once
// Reading "history.sqlite" beside a program that may be recording into it: a read-only
// connection of its own, and what the file holds per channel.

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace history {

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
    QString open(const QString& path);
    void close();
    QSqlDatabase database() const;

private:
    QString connection_;
};

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

HistorySummary summarizeHistory(const QString& path);

} // namespace history
