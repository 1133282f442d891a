#include "logger/OutputFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace logger {

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Different names for a temporary file before giving up: another one of the same name would
// have to be left there each time.
constexpr int kTemporaryNameAttempts = 16;

std::filesystem::path toFileSystemPath(const QString& path)
{
    return std::filesystem::path(path.toStdU16String());
}

} // namespace

OutputFile::OutputFile()
    : buffer_(kBufferSize)
{
}

OutputFile::~OutputFile()
{
    // A run that never ended leaves no half-written file.
    if (pending_)
        rollBack();
}

bool OutputFile::fail()
{
    error_ = file_.error() == QFileDevice::NoError ? QStringLiteral("the data could not be written")
                                                   : file_.errorString();
    // The file stays open: rollBack() cuts it back through the same handle.
    open_ = false;
    used_ = 0;
    return false;
}

bool OutputFile::open(const QString& path, Mode mode)
{
    path_ = path;
    mode_ = mode;
    temporaryPath_.clear();
    error_.clear();
    used_ = 0;
    if (mode == Mode::Replace) {
        if (!openReplacement())
            return false;
    } else {
        const common::WriteOpening opening = common::openForWriting(file_, path, common::WriteMode::AppendOrCreate);
        if (!opening.opened) {
            error_ = opening.error;
            return false;
        }
        created_ = opening.created;
        originalSize_ = file_.size();
    }
    identity_ = common::identityOf(file_, mode == Mode::Replace ? temporaryPath_ : path_);
    open_ = true;
    pending_ = true;
    return true;
}

bool OutputFile::openReplacement()
{
    // Beside the file, so that the final rename stays within one file system; hidden, so that
    // it does not look like a result while it is written.
    const QFileInfo target(path_);
    const QDir directory = target.absoluteDir();
    common::WriteOpening opening;
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const QString name = QStringLiteral(".%1.part-%2")
                                 .arg(target.fileName())
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        temporaryPath_ = directory.filePath(name);
        opening = common::openForWriting(file_, temporaryPath_, common::WriteMode::CreateNew);
        if (opening.opened || !opening.alreadyThere)
            break;
    }
    if (!opening.opened) {
        error_ = QStringLiteral("no temporary file could be made beside it (%1)").arg(opening.error);
        temporaryPath_.clear();
        return false;
    }
    created_ = true;
    originalSize_ = 0;
    // The replacement keeps the permissions the old file had.
    if (common::entryKind(path_) == common::EntryKind::Regular)
        file_.setPermissions(QFile::permissions(path_));
    return true;
}

bool OutputFile::write(const char* bytes, std::size_t size)
{
    if (!open_)
        return false;
    if (used_ + size > buffer_.size()) {
        if (!flush())
            return false;
        if (size > buffer_.size())
            return writeAll(bytes, static_cast<qint64>(size));
    }
    std::memcpy(buffer_.data() + used_, bytes, size);
    used_ += size;
    return true;
}

char* OutputFile::reserve(std::size_t size)
{
    if (used_ + size > buffer_.size() && !flush())
        return nullptr;
    return open_ ? buffer_.data() + used_ : nullptr;
}

bool OutputFile::flush()
{
    if (used_ == 0)
        return open_;
    const bool written = writeAll(buffer_.data(), static_cast<qint64>(used_));
    used_ = 0;
    return written;
}

bool OutputFile::writeAll(const char* bytes, qint64 size)
{
    // A file system that fills up first takes part of the bytes; the next write then fails with
    // the reason the user needs to see.
    while (size > 0) {
        const qint64 written = file_.write(bytes, size);
        if (written <= 0)
            return fail();
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::finishWriting()
{
    if (!open_)
        return false;
    if (!flush())
        return false;
    open_ = false;
    return true;
}

bool OutputFile::publish()
{
    if (!pending_)
        return true;
    pending_ = false;
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        error_ = file_.errorString();
        if (mode_ == Mode::Replace)
            removeOwn(temporaryPath_);
        return false;
    }
    if (mode_ == Mode::Append)
        return true;
    // A rename never follows a link at the destination: a link swapped in meanwhile is what
    // gets replaced, not the file it points to.
    std::error_code error;
    std::filesystem::rename(toFileSystemPath(temporaryPath_), toFileSystemPath(path_), error);
    if (error) {
        error_ = QStringLiteral("the finished file could not take its name (%1)").arg(QString::fromStdString(error.message()));
        removeOwn(temporaryPath_);
        return false;
    }
    temporaryPath_.clear();
    return true;
}

void OutputFile::removeOwn(const QString& path)
{
    if (common::identityAt(path).sameFileAs(identity_))
        QFile::remove(path);
}

void OutputFile::rollBack()
{
    used_ = 0;
    open_ = false;
    if (!pending_) {
        file_.close();
        return;
    }
    pending_ = false;
    if (mode_ == Mode::Append && !created_ && file_.isOpen()) {
        // Through the open handle: the name may mean another file by now.
        file_.resize(originalSize_);
    }
    file_.close();
    if (mode_ == Mode::Replace) {
        removeOwn(temporaryPath_);
        temporaryPath_.clear();
    } else if (created_) {
        removeOwn(path_);
    }
}

} // namespace logger
