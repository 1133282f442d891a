#pragma once
// One output text file of the extraction, written through a fixed buffer. Every failure keeps
// the system's reason for the user.
//
// A file being extended is written in place and cut back to its former length when the run
// fails. A file being replaced is not touched until the run has succeeded: the new contents go
// to a temporary file beside it, which takes its name only at the end (publish()).

#include "common/SafeFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

namespace logger {

class OutputFile {
public:
    enum class Mode {
        Append,  // extend the file, creating it when it is missing
        Replace, // write a new file that takes the place of the old one at publish()
    };

    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens for writing, never through a link and only when the name is, or becomes, a regular file.
    bool open(const QString& path, Mode mode);
    // Appends bytes; they reach the file when the buffer is full or on flush().
    bool write(const char* bytes, std::size_t size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), static_cast<std::size_t>(bytes.size())); }
    // Room for up to `size` bytes written in place, then handed over with commit(): lines are
    // formatted straight into the buffer. Null when the file failed.
    char* reserve(std::size_t size);
    void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }
    bool flush();
    // Writes out what the buffer holds; false when the last bytes could not be written. The file
    // stays open, so that a failure elsewhere can still undo it.
    bool finishWriting();
    // After finishWriting(), once the whole run has succeeded: closes the file, and a replacement
    // takes the file's name (the old file goes at that moment).
    bool publish();
    // After a failed run: closes the file and puts the directory back as the run found it, so that
    // no incomplete output can pass for a complete one. A file the run created is removed, a
    // replacement is dropped (the old file never changed), a file it was adding to is cut back
    // to its former length.
    void rollBack();

    bool isOpen() const { return open_; }
    QString path() const { return path_; }
    QString errorString() const { return error_; }
    // The file the run writes (the temporary one while replacing).
    common::FileIdentity identity() const { return identity_; }
    // The temporary file of a replacement; empty otherwise.
    QString temporaryPath() const { return temporaryPath_; }

private:
    bool fail();
    bool writeAll(const char* bytes, qint64 size);
    bool openReplacement();
    // Removes `path` only while it is still the file this run made.
    void removeOwn(const QString& path);

    QFile file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool open_ = false;
    bool pending_ = false; // something to undo or to publish
    Mode mode_ = Mode::Append;
    QString path_;
    QString temporaryPath_;
    common::FileIdentity identity_;
    bool created_ = false;
    qint64 originalSize_ = 0;
    QString error_;
};

} // namespace logger
