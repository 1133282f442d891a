#include "PtyPeer.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testing_support {

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    path_ = QString::fromLocal8Bit(name);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

void PtyPeer::hangUp()
{
    // The peer's own hold on the line goes too: with it, a read of the hung-up line would fail
    // with an error, without it, it finds the end of the file, as with a real station gone.
    for (int* fd : {&master_, &slave_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PtyPeer::write(const QByteArray& bytes) const
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0)
            done += n;
    }
}

QByteArray PtyPeer::read(qsizetype count, int ms) const
{
    QByteArray got;
    QDeadlineTimer deadline(ms);
    while (got.size() < count && !deadline.hasExpired()) {
        char buffer[512];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
        else
            QEventLoop().processEvents(QEventLoop::AllEvents, 10);
    }
    return got;
}

void waitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QEventLoop().processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

} // namespace testing_support
