#include "logger/LoggerReader.h"


#include <algorithm>
#include <cstring>

namespace logger {

namespace {
constexpr int kBufferSize = 256 * 1024;
}

LoggerReader::LoggerReader()
    : buffer_(kBufferSize)
{
}

bool LoggerReader::open(const QString& path)
{
    close();
    status_ = Status::Ok;
    error_.clear();
    consumed_ = 0;
    read_ = 0;
    fragment_ = 0;
    size_ = 0;
    path_ = path;
    identity_ = {};
    QString reason;
    if (!common::openForReading(file_, path, reason)) {
        fail(Status::CannotOpen, reason);
        return false;
    }
    size_ = file_.size();
    identity_ = common::identityOf(file_, path);
    return true;
}

void LoggerReader::close()
{
    file_.close();
    begin_ = end_ = 0;
    atEnd_ = false;
}

void LoggerReader::fail(Status status, const QString& reason)
{
    status_ = status;
    error_ = reason;
    close();
}

bool LoggerReader::fill(int wanted)
{
    if (!file_.isOpen())
        return false;
    while (end_ - begin_ < wanted && !atEnd_) {
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, static_cast<std::size_t>(end_ - begin_));
            end_ -= begin_;
            begin_ = 0;
        }
        const qint64 left = size_ - read_;
        if (left <= 0) {
            atEnd_ = true;
            break;
        }
        const qint64 got = file_.read(buffer_.data() + end_, std::min<qint64>(kBufferSize - end_, left));
        if (got < 0) {
            fail(Status::ReadError, file_.errorString());
            return false;
        }
        if (got == 0) {
            // Records counted from a file cut short meanwhile would pass for the whole file.
            fail(Status::Changed, QStringLiteral("it changed while it was read: it became shorter than the %1 bytes "
                                                 "it had when it was opened")
                                      .arg(size_));
            return false;
        }
        read_ += got;
        end_ += static_cast<int>(got);
    }
    return end_ - begin_ >= wanted;
}

std::optional<LoggerHeader> LoggerReader::readHeader()
{
    if (!file_.isOpen())
        return std::nullopt;
    if (!fill(kHeaderSize)) {
        if (status_ == Status::Ok)
            fail(Status::TooShort, QStringLiteral("the file holds %1 bytes, fewer than the %2 bytes of a header")
                                       .arg(end_ - begin_)
                                       .arg(kHeaderSize));
        return std::nullopt;
    }
    LoggerHeader header = LoggerHeader::fromBytes(buffer_.data() + begin_);
    begin_ += kHeaderSize;
    consumed_ += kHeaderSize;
    return header;
}

bool LoggerReader::next(LoggerRecord& record)
{
    if (end_ - begin_ < kRecordSize && !fill(kRecordSize)) {
        if (status_ == Status::Ok && file_.isOpen())
            fragment_ = end_ - begin_;
        return false;
    }
    record = LoggerRecord::fromBytes(buffer_.data() + begin_);
    begin_ += kRecordSize;
    consumed_ += kRecordSize;
    return true;
}

QString EmptyLoggerFile(const QString& path)
{
    // Only a regular file is emptied: never the file behind a link, never a pipe (whose open
    // would wait for a reader) or a device.
    QFile file;
    const common::WriteOpening opening = common::openForWriting(file, path, common::WriteMode::AppendOrCreate);
    if (!opening.opened)
        return opening.error;
    if (!file.resize(0))
        return file.errorString();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return {};
}

} // namespace logger
