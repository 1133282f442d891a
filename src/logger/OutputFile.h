#pragma once
// One output text file of the extraction, written through a fixed buffer. Every failure keeps
// the system's reason for the user.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

namespace logger {

class OutputFile {
public:
    OutputFile();

    // Opens for appending, creating the file when it is missing. Nothing is truncated here.
    bool open(const QString& path);
    // Empties the open file (the user chose to replace it).
    bool truncate();
    // Appends bytes; they reach the file when the buffer is full or on flush().
    bool write(const char* bytes, std::size_t size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), static_cast<std::size_t>(bytes.size())); }
    // Room for up to `size` bytes written in place, then handed over with commit(): lines are
    // formatted straight into the buffer. Null when the file failed.
    char* reserve(std::size_t size);
    void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }
    bool flush();
    // Flushes and closes; false when the last bytes could not be written.
    bool close();
    // After a failed run: closes the file and puts the directory back as the run found it, so that
    // no incomplete output can pass for a complete one. A file the run created or replaced is
    // removed; a file it was adding to is cut back to its former length.
    void rollBack();

    bool isOpen() const { return open_; }
    QString path() const { return file_.fileName(); }
    QString errorString() const { return error_; }

private:
    bool fail();
    bool writeAll(const char* bytes, qint64 size);

    QFile file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool open_ = false;
    qint64 originalSize_ = -1; // -1: the file did not exist before this run
    bool replaced_ = false;
    QString error_;
};

} // namespace logger
