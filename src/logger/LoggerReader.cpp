#include "logger/LoggerReader.h"

#include <QFileInfo>

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
    fragment_ = 0;
    file_.setFileName(path);
    if (QFileInfo(path).isDir()) {
        fail(Status::CannotOpen, QStringLiteral("it is a directory"));
        return false;
    }
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(Status::CannotOpen, file_.errorString());
        return false;
    }
    size_ = file_.size();
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
        const qint64 got = file_.read(buffer_.data() + end_, kBufferSize - end_);
        if (got < 0) {
            fail(Status::ReadError, file_.errorString());
            return false;
        }
        if (got == 0)
            atEnd_ = true;
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
    if (QFileInfo(path).isDir())
        return QStringLiteral("it is a directory");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file.errorString();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return {};
}

} // namespace logger
