#include "UnixSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace station {

#ifdef Q_OS_UNIX
namespace {
// The handler's one channel to the event loop; written to only from the handler.
int signalSockets[2] = {-1, -1};

void onSignal(int number)
{
    const unsigned char byte = static_cast<unsigned char>(number);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = saved;
}
} // namespace
#endif

UnixSignals::UnixSignals(QObject* parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return;
    ::fcntl(signalSockets[0], F_SETFL, O_NONBLOCK);
    ::fcntl(signalSockets[1], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UnixSignals::readSignals);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
#endif
}

UnixSignals::~UnixSignals()
{
#ifdef Q_OS_UNIX
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::signal(number, SIG_DFL);
#endif
}

void UnixSignals::readSignals()
{
#ifdef Q_OS_UNIX
    unsigned char number = 0;
    while (::read(signalSockets[1], &number, 1) == 1) {
        if (number == SIGHUP)
            emit reload();
        else
            emit terminate();
    }
#endif
}

} // namespace station
