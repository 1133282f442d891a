// The feed on real local sockets: clients that never read, send junk, come and go; the socket
// file's access, a stale or foreign file at its name, and a directory too deep for its path.

#include "feed/FeedClient.h"
#include "feed/FeedServer.h"
#include "feed/SocketFile.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace feed;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A client that connects and never reads a byte; -1 when it cannot connect.
int silentClient(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

long residentKib()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    return status.readAll().split(' ').value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

QByteArray visitLine(int channel, const QString& text)
{
    measure::Reading r;
    r.channel = channel;
    r.ok = true;
    r.outcome = diagnostics::Outcome::value();
    r.shown.text = text;
    return encodeVisit(r, 30.0, 0);
}

class FeedSocket : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedServer server{dir.path()};
};

} // namespace

TEST_F(FeedSocket, AClientThatNeverReadsIsDroppedAndTheStationsMemoryStaysBounded)
{
    ASSERT_EQ(server.listen(), QString());
    QStringList notices;
    QObject::connect(&server, &FeedServer::notice, [&](const QString& text) { notices << text; });
    FeedClient reader(dir.path());
    int visits = 0;
    QObject::connect(&reader, &FeedClient::visited, [&](const VisitMessage&) { ++visits; });
    reader.start();
    const int silent = silentClient(server.path());
    ASSERT_GE(silent, 0);
    ASSERT_TRUE(waitFor([&] { return server.clientCount() == 2 && reader.connected(); }));

    [[maybe_unused]] const long before = residentKib();
    const QByteArray line = visitLine(1, QString(32 * 1024, u'7'));
    constexpr int kLines = 800; // 26 MB: a hundred times the bound
    for (int i = 0; i < kLines; ++i) {
        server.broadcast(line);
        ASSERT_TRUE(waitFor([&] { return visits == i + 1; })) << i;
    }
    EXPECT_EQ(server.clientCount(), 1);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.first().contains(QStringLiteral("takes nothing"))) << notices.first().toStdString();
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine: resident memory says nothing there.
    EXPECT_LT(residentKib() - before, 10 * 1024);
#endif
    ::close(silent);
}

TEST_F(FeedSocket, JunkGetsOneErrorLineAndTooMuchOfItADrop)
{
    ASSERT_EQ(server.listen(), QString());
    int reloads = 0;
    QObject::connect(&server, &FeedServer::reloadRequested, [&] { ++reloads; });
    const struct {
        QByteArray sent;
        int errorLines;
        bool dropped;
        int reloads;
    } cases[] = {
        {"hello\n", 1, false, 0},
        {"{\"command\":\"reload\"}\n", 0, false, 1},
        {"x\n\n{}\n[]\n{\"command\":\"reboot\"}\n6\n7\n8\n9\n10\n", 1, true, 0},
        {QByteArray(kMaxCommandBytes + 10, 'a'), 1, true, 0},
    };
    for (const auto& c : cases) {
        reloads = 0;
        QLocalSocket client;
        client.connectToServer(server.path());
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write(c.sent);
        client.flush();
        const bool dropped = waitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 1500);
        const QByteArray received = client.readAll();
        EXPECT_EQ(received.count("\"kind\":\"error\""), c.errorLines) << c.sent.left(30).toStdString();
        EXPECT_EQ(dropped, c.dropped) << c.sent.left(30).toStdString();
        EXPECT_EQ(reloads, c.reloads);
    }
    EXPECT_TRUE(waitFor([&] { return server.clientCount() == 0; }));
}

TEST_F(FeedSocket, TwoClientsGetEveryLineAndComeBackAfterTheStation)
{
    server.setGreeting([] { return encodeConfiguration({}); });
    ASSERT_EQ(server.listen(), QString());
    int resets = 0;
    QObject::connect(&server, &FeedServer::resetCountersRequested, [&] { ++resets; });
    FeedClient a(dir.path());
    FeedClient b(dir.path());
    std::array<QStringList, 2> texts;
    std::array<int, 2> configurations{};
    for (int i = 0; i < 2; ++i) {
        FeedClient& client = i == 0 ? a : b;
        QObject::connect(&client, &FeedClient::visited, [&, i](const VisitMessage& v) { texts[i] << v.reading.shown.text; });
        QObject::connect(&client, &FeedClient::configurationChanged, [&, i] { ++configurations[i]; });
        client.start();
    }
    ASSERT_TRUE(waitFor([&] { return configurations == std::array{1, 1}; }));
    server.broadcast(visitLine(0, QStringLiteral("7.14 pH")));
    server.broadcast(visitLine(3, QStringLiteral("Out of order")));
    const QStringList expected{QStringLiteral("7.14 pH"), QStringLiteral("Out of order")};
    EXPECT_TRUE(waitFor([&] { return texts[0] == expected && texts[1] == expected; }));
    a.resetCounters();
    EXPECT_TRUE(waitFor([&] { return resets == 1; }));

    // The station goes and comes back: both tell it, and reconnect by themselves.
    server.close();
    EXPECT_TRUE(waitFor([&] { return !a.connected() && !b.connected(); }));
    ASSERT_EQ(server.listen(), QString());
    EXPECT_TRUE(waitFor([&] { return configurations == std::array{2, 2}; }, 4000));
}

TEST_F(FeedSocket, TheSocketIsTheDirectorysGroupsAndNothingElseAtItsNameIsTouched)
{
    // As root, the directory gets another group than the process's, so that the copy shows.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), static_cast<uid_t>(-1), 20), 0);
    }
    ASSERT_EQ(server.listen(), QString());
    struct stat socket {}, folder {};
    ASSERT_EQ(::stat(QFile::encodeName(server.path()).constData(), &socket), 0);
    ASSERT_EQ(::stat(QFile::encodeName(dir.path()).constData(), &folder), 0);
    EXPECT_EQ(socket.st_mode & 07777, 0660u);
    EXPECT_EQ(socket.st_gid, folder.st_gid);
    // A second station finds the first one answering.
    FeedServer second(dir.path());
    EXPECT_TRUE(second.listen().contains(QStringLiteral("another station serves")));

    // A socket left by a station that died is replaced.
    const QString path = server.path();
    ASSERT_TRUE(QFile::rename(path, path + QStringLiteral(".kept")));
    server.close();
    ASSERT_TRUE(QFile::rename(path + QStringLiteral(".kept"), path));
    ASSERT_EQ(fileKind(path), FileKind::Socket);
    EXPECT_EQ(server.listen(), QString());
    EXPECT_TRUE(stationServes(dir.path()));
    server.close();

    // A file or a link at the name is somebody's: left as it is.
    for (const bool link : {false, true}) {
        QFile::remove(path);
        const QString target = dir.filePath(QStringLiteral("notes.txt"));
        testing_support::writeFile(target, "the operator's notes");
        ASSERT_TRUE(link ? QFile::link(target, path) : QFile::copy(target, path));
        EXPECT_TRUE(server.listen().contains(QStringLiteral("no socket")));
        EXPECT_EQ(fileKind(path), FileKind::Other);
        EXPECT_EQ(testing_support::readFile(path), QByteArray("the operator's notes"));
    }
}

TEST_F(FeedSocket, ADirectoryTooDeepForTheSocketsPathIsServedThroughTheFallback)
{
    const QString deep = dir.filePath(QString(60, u'd') + u'/' + QString(60, u'e'));
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_FALSE(fitsSocketAddress(socketPath(deep)));
    FeedServer far(deep);
    ASSERT_EQ(far.listen(), QString());
    EXPECT_TRUE(stationServes(deep));
    far.close();
    EXPECT_EQ(fileKind(socketPath(deep)), FileKind::Missing);
}
