#pragma once
// Walks a logger file from its first byte to its last, handing out one record at a time. The
// file is read through a fixed buffer, so memory stays the same whatever the file's length.

#include "logger/LoggerFormat.h"
#include "common/SafeFiles.h"

#include <QFile>
#include <QString>

#include <optional>
#include <vector>

namespace logger {

class LoggerReader {
public:
    enum class Status {
        Ok,
        CannotOpen, // missing, unreadable, a directory, not a regular file...
        TooShort,   // fewer bytes than a header
        ReadError,  // the system failed while reading
        Changed,    // the file became shorter while it was read
    };

    LoggerReader();

    // Opens the file for reading as raw bytes. Only a regular file is read, and only up to the
    // length it had at that moment: a device would never end, and a logger file that grows
    // meanwhile is read as it was when the extraction began.
    bool open(const QString& path);
    // The header from offset 0; nothing when the file is shorter than a header or cannot be read.
    std::optional<LoggerHeader> readHeader();
    // The next record in file order; false at the end of the file or on a read error. Bytes after
    // the last complete record never make a record: they are counted in fragmentBytes().
    bool next(LoggerRecord& record);
    void close();

    Status status() const { return status_; }
    // Why the file could not be opened or read, for the user.
    QString errorString() const { return error_; }
    QString path() const { return path_; }
    // The open file, to tell that an output name does not mean the logger file itself.
    const common::FileIdentity& identity() const { return identity_; }
    // The file's length when it was opened, and the bytes consumed so far.
    qint64 size() const { return size_; }
    qint64 position() const { return consumed_; }
    // Bytes left over after the last complete record, once next() has reported the end.
    int fragmentBytes() const { return fragment_; }

private:
    // Makes at least `wanted` bytes available in the buffer unless the file ends first.
    bool fill(int wanted);
    void fail(Status status, const QString& reason);

    QFile file_;
    QString path_;
    common::FileIdentity identity_;
    std::vector<char> buffer_;
    int begin_ = 0;
    int end_ = 0;
    bool atEnd_ = false;
    Status status_ = Status::Ok;
    QString error_;
    qint64 size_ = 0;
    qint64 consumed_ = 0;
    qint64 read_ = 0; // bytes taken from the file
    int fragment_ = 0;
};

// Empties a logger file, creating it when it does not exist: afterwards it is 0 bytes long.
// Returns an empty string on success, otherwise the reason for the user.
QString EmptyLoggerFile(const QString& path);

} // namespace logger
