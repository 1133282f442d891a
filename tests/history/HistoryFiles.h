#pragma once
// Helpers of the history tests: fake readings, counting rows from a connection of our own, a
// small tmpfs, and a sqlite3 shell that holds the write lock.

#include "measure/Reading.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <vector>

namespace history_test {

// The readings of one cycle of `channels` channels; `cycle` is in every time stamp.
std::vector<measure::Reading> cycleReadings(qint64 cycle, int channels = 4, qint64 timeMs = -1);

// SELECT through a connection of its own; an invalid QVariant on any error.
QVariant queryValue(const QString& databasePath, const QString& sql);
qint64 rowCount(const QString& databasePath);

// A tmpfs of `size` mounted on a temporary folder (needs root; tests skip otherwise).
class TmpFs {
public:
    explicit TmpFs(const char* size);
    ~TmpFs();
    TmpFs(const TmpFs&) = delete;
    TmpFs& operator=(const TmpFs&) = delete;
    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    // Makes the file system read-only or writable again. Root ignores a folder's permission
    // bits, so a read-only mount is what makes a folder truly unwritable here.
    bool setReadOnly(bool readOnly);
    // Fills the file system up with a file named `name`.
    void fill(const QString& name) const;

private:
    QTemporaryDir dir_;
    QString options_;
    bool mounted_ = false;
};

// A sqlite3 shell that has begun an immediate transaction on a database: it holds the write
// lock until release().
class LockHolder {
public:
    explicit LockHolder(const QString& databasePath);
    ~LockHolder();
    bool holding() const { return holding_; }
    void release();

private:
    QProcess shell_;
    bool holding_ = false;
};

} // namespace history_test
