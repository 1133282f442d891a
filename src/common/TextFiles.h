#pragma once
// Small whole-file reads with a size limit, and atomic saves: a crash or a full disk never
// leaves a half-written file behind. Every small file the program saves goes through
// saveAtomically.

#include <QByteArray>
#include <QByteArrayView>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <functional>

namespace common {

struct FileRead {
    enum class Status { Ok, Missing, NotRegular, TooLarge, Unreadable };
    Status status = Status::Ok;
    QByteArray bytes;
    QString error; // why the file could not be read, for the user
};

// Reads a regular file whole. Anything else at the name (a FIFO, a device, a directory) is
// refused without being opened, since opening it could block for ever. A file larger than
// `maxBytes` is refused; one of exactly `maxBytes` is read. At most the size the file had when it
// was opened is read, so that a file that keeps growing cannot hold the program.
FileRead readSmallFile(const QString& path, qint64 maxBytes);

// A save through QSaveFile that cannot report success without the bytes on disk. Qt 6.4's
// QSaveFile buffers what it is given and flushes it inside commit(), which then ignores a failed
// flush (a full disk) and renames an empty file over the target. So the file is written
// unbuffered, every write is checked, and the size on disk is compared with what was written
// before commit(), which is left with nothing to do but sync and rename. The temporary file is
// thrown away whenever commit() was not reached. Large outputs are streamed through write().
class AtomicWriter {
public:
    explicit AtomicWriter(const QString& path);
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    // Each returns an empty string on success, otherwise the reason for the user.
    QString open();
    QString write(QByteArrayView bytes);
    QString commit();
    // Throws the temporary file away now; the target is left as it was.
    void discard();

private:
    QSaveFile file_;
    qint64 written_ = 0;
};

// Writes the bytes to a temporary file beside `path` and renames it over `path` once every byte
// is on disk. Refuses a name that holds something other than a regular file. Returns an empty
// string on success, otherwise the reason for the user ("No space left on device").
QString saveAtomically(const QString& path, const QByteArray& bytes);

// Copies the regular file `from` to `to` the same way (an existing `to` is replaced).
QString copyAtomically(const QString& from, const QString& to);

// --- The settings files ("config.txt", "PortCom.dat"): one flow for loading and saving ---

struct ParsedSettings {
    bool malformed = false; // nothing of the file could be used
    QStringList problems;   // for the user
};

struct SettingsLoad {
    FileRead::Status status = FileRead::Status::Ok;
    bool malformed = false; // nothing usable: the caller goes on with its defaults
    QStringList problems;   // for the caller's message; empty when the file was used as it stands

    // The file is there but could not be read as a whole: the next save keeps it beside itself
    // first, so that the user's content is not lost to an empty configuration.
    bool keepOnSave() const { return malformed && status != FileRead::Status::Missing; }
};

// Reads the file, refuses binary data (with `binaryProblem` as the reason) and hands the text to
// `parse`, which fills the caller's model. Reports nothing itself.
SettingsLoad loadSettingsFile(const QString& path, qint64 maxBytes, const QString& binaryProblem,
                              const std::function<ParsedSettings(QByteArrayView)>& parse);

// A settings file read again while the program runs: a file that cannot be read leaves the
// settings in force as they were.
struct SettingsReload {
    bool applied = false; // the file's settings are in force now
    QString problem;      // what was wrong (also when applied with values replaced); empty when fine
};

struct SettingsSave {
    QString error;    // empty on success
    QString keptCopy; // where the unreadable file was kept, when it was
};

// Where an unreadable settings file is kept: "config.txt.bad" beside "config.txt".
QString keptCopyPath(const QString& path);

// Saves the bytes atomically; with `keepExisting`, the file at `path` (if any) is first copied to
// keptCopyPath(path), and nothing is saved if that copy fails.
SettingsSave saveSettingsFile(const QString& path, const QByteArray& bytes, bool keepExisting);

} // namespace common
