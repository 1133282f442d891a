#include "logger/OutputFile.h"

#include <QFileInfo>

#include <cstring>

namespace logger {

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;
}

OutputFile::OutputFile()
    : buffer_(kBufferSize)
{
}

bool OutputFile::fail()
{
    error_ = file_.error() == QFileDevice::NoError ? QStringLiteral("the data could not be written")
                                                   : file_.errorString();
    file_.close();
    open_ = false;
    used_ = 0;
    return false;
}

bool OutputFile::open(const QString& path)
{
    file_.setFileName(path);
    if (QFileInfo(path).isDir()) {
        error_ = QStringLiteral("a directory of that name is in the way");
        return false;
    }
    const QFileInfo info(path);
    originalSize_ = info.exists() ? info.size() : -1;
    replaced_ = false;
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return fail();
    open_ = true;
    return true;
}

bool OutputFile::truncate()
{
    used_ = 0;
    replaced_ = true;
    return file_.resize(0) || fail();
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

bool OutputFile::close()
{
    if (!open_)
        return false;
    if (!flush())
        return false;
    open_ = false;
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        error_ = file_.errorString();
        return false;
    }
    return true;
}

void OutputFile::rollBack()
{
    used_ = 0;
    open_ = false;
    file_.close();
    const QString path = file_.fileName();
    if (path.isEmpty())
        return;
    if (originalSize_ < 0 || replaced_)
        QFile::remove(path);
    else
        QFile::resize(path, originalSize_);
}

} // namespace logger
