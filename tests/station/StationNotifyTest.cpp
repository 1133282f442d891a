// zentlog-station under a service manager: readiness, status and watchdog beats on the notify
// socket, a quiet log, and a binary without any display library.

#include "SimProcess.h"
#include "StationRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

using namespace testing_support;

namespace {

struct Note {
    qint64 ms = 0;
    QByteArray line;
};

// A Unix datagram socket standing in for the service manager's.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        std::memcpy(address.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof address.sun_path - 1));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool bound() const { return bound_; }

    // Receives for `ms`, or until `done` holds; one note per line of each datagram.
    void receive(int ms, const std::function<bool()>& done = [] { return false; })
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms && !done()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::max<qint64>(1, ms - timer.elapsed()))) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            for (const QByteArray& line : QByteArray(buffer, static_cast<int>(std::max<ssize_t>(n, 0))).split('\n'))
                if (!line.isEmpty())
                    notes.push_back({nowMs(), line});
        }
    }
    std::vector<Note> notes;

private:
    int fd_ = -1;
    bool bound_ = false;
};

} // namespace

TEST(StationNotify, SaysReadyAndStatusThenBeatsTheWatchdogOncePerCycleWithoutLogging)
{
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    NotifySocket socket(dir.filePath(QStringLiteral("notify")));
    ASSERT_TRUE(socket.bound());
    Station station(dir.path(), sim.linkPath(),
                    {QStringLiteral("NOTIFY_SOCKET=") + dir.filePath(QStringLiteral("notify")),
                     QStringLiteral("WATCHDOG_USEC=30000000")});

    const auto ready = [&] {
        return std::any_of(socket.notes.begin(), socket.notes.end(), [](const Note& n) { return n.line == "READY=1"; });
    };
    socket.receive(10000, ready);
    ASSERT_TRUE(ready()) << station.log().toStdString();
    const qint64 readyMs = std::find_if(socket.notes.begin(), socket.notes.end(), [](const Note& n) {
                               return n.line == "READY=1";
                           })->ms;
    socket.receive(2000);
    const QString startLog = station.log();
    socket.receive(3000);

    std::vector<qint64> beats{readyMs};
    int statuses = 0;
    for (const Note& n : socket.notes) {
        if (n.line == "WATCHDOG=1")
            beats.push_back(n.ms);
        statuses += n.line.startsWith("STATUS=") && n.line.size() > 7;
    }
    EXPECT_GE(statuses, 1);
    // Five seconds of one-second cycles.
    EXPECT_GE(beats.size(), 5u);
    EXPECT_LE(beats.size(), 8u);
    qint64 longestGap = 0;
    for (size_t i = 1; i < beats.size(); ++i)
        longestGap = std::max(longestGap, beats[i] - beats[i - 1]);
    EXPECT_LE(longestGap, 1600);

    // Who measures where, each input's first value, and then nothing while all is well.
    const QString log = station.log();
    EXPECT_TRUE(log.contains(QStringLiteral("zentlog.station: Measuring in \"%1\" as process %2")
                                 .arg(dir.path())
                                 .arg(station.pid())))
        << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Input 0 (\"basin pH\"): valid reading")), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Input 1 (\"basin ORP\"): valid reading")), 1) << log.toStdString();
    EXPECT_EQ(log, startLog);

    EXPECT_EQ(station.terminate(), 0) << station.log().toStdString();
}

TEST(StationBinary, LinksNoDisplayLibrary)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(ZENTLOG_STATION)});
    ASSERT_TRUE(ldd.waitForFinished(10000));
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains(QLatin1String("libQt6Core"))) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains(QLatin1String("libQt6Gui"))) << libraries.toStdString();
    EXPECT_FALSE(libraries.contains(QLatin1String("libQt6Widgets"))) << libraries.toStdString();
}
