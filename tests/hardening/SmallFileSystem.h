#pragma once
// A 64 KiB tmpfs mounted for a test (mounting needs root; tests skip where it is not allowed),
// and a way to fill it up.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>

namespace hardening_test {

class SmallFileSystem {
public:
    SmallFileSystem()
    {
        mounted_ = ::mount("tmpfs", dir_.path().toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount(dir_.path().toLocal8Bit().constData());
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

    // Writes a file named `name` until the file system has no byte left; returns its size.
    qint64 fill(const QString& name) const
    {
        QFile filler(filePath(name));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return -1;
        const QByteArray block(512, 'f');
        qint64 size = 0;
        for (qint64 written = 0; (written = filler.write(block)) > 0;)
            size += written;
        return size;
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

} // namespace hardening_test
