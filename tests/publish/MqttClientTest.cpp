// The MQTT client against a real mosquitto broker on 127.0.0.1: acknowledgements, retained
// messages and the will, outages and reconnection, user names and passwords, TLS.

#include "ProcessCpu.h"
#include "publish/MqttClient.h"

#include "MqttBroker.h"
#include "MqttSubscriber.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

using publish::Message;
using publish::MqttClient;
using testing_support::MqttBroker;
using testing_support::MqttSubscriber;

using testing_support::cpuSeconds;

namespace {

constexpr int kWaitMs = 15000; // generous: the machine may be busy

// Runs Qt's events until `done` holds or `ms` passed, sleeping between looks: the CPU test below
// measures this process, so the wait itself must not spin.
void waitFor(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// Everything a client said, in order.
struct Recorder {
    int connected = 0;
    QStringList disconnected;
    std::vector<int> acknowledged;
    QStringList faults;
    std::vector<std::pair<QString, QByteArray>> received;

    explicit Recorder(MqttClient& client)
    {
        QObject::connect(&client, &MqttClient::connected, [this] { ++connected; });
        QObject::connect(&client, &MqttClient::disconnected, [this](const QString& reason) { disconnected << reason; });
        QObject::connect(&client, &MqttClient::acknowledged, [this](int mid) { acknowledged.push_back(mid); });
        QObject::connect(&client, &MqttClient::fault, [this](const QString& text) { faults << text; });
        QObject::connect(&client, &MqttClient::received,
                         [this](const QString& topic, const QByteArray& payload) { received.emplace_back(topic, payload); });
    }
    bool wasAcknowledged(int mid) const
    {
        return std::find(acknowledged.begin(), acknowledged.end(), mid) != acknowledged.end();
    }
};

MqttClient::Options localOptions(int port)
{
    MqttClient::Options options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = port;
    options.reconnectDelayMs = 200;
    options.reconnectDelayMaxMs = 1000;
    return options;
}

bool waitConnected(const Recorder& recorder, int count = 1)
{
    waitFor([&] { return recorder.connected >= count; }, kWaitMs);
    return recorder.connected >= count;
}

Message message(const char* topic, const char* payload, int qos = 1, bool retain = false)
{
    return Message{QString::fromLatin1(topic), QByteArray(payload), qos, retain};
}

// Lets events run for `ms` whatever happens (to show that something does not come).
void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

} // namespace

TEST(MqttClient, PublishesAcknowledgesAndKeepsRetainedMessages)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/#"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));

    MqttClient client(localOptions(broker.port()));
    Recorder recorder(client);
    EXPECT_EQ(client.publish(message("zentlog/early", "x")), 0) << "nothing goes out before a connection";
    EXPECT_FALSE(client.lastError().isEmpty());

    client.start();
    ASSERT_TRUE(waitConnected(recorder));
    EXPECT_TRUE(client.isConnected());

    const int mid = client.publish(message("zentlog/a", "first"));
    ASSERT_GT(mid, 0) << client.lastError().toStdString();
    const int mid0 = client.publish(message("zentlog/q0", "zero", 0));
    ASSERT_GT(mid0, 0);
    EXPECT_NE(mid, mid0);
    const int retainedMid = client.publish(message("zentlog/kept", "still here", 1, true));
    ASSERT_GT(retainedMid, 0);

    waitFor([&] { return recorder.wasAcknowledged(mid) && recorder.wasAcknowledged(mid0) && recorder.wasAcknowledged(retainedMid); },
            kWaitMs);
    EXPECT_TRUE(recorder.wasAcknowledged(mid));
    EXPECT_TRUE(recorder.wasAcknowledged(mid0)) << "a QoS 0 message counts once written";
    EXPECT_TRUE(recorder.wasAcknowledged(retainedMid));
    EXPECT_EQ(recorder.acknowledged.size(), 3u) << "each message is acknowledged once";

    ASSERT_TRUE(subscriber.waitForCount(3, kWaitMs));
    const auto first = subscriber.messagesOn(QStringLiteral("zentlog/a"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].payload, QByteArray("first"));
    EXPECT_EQ(first[0].qos, 1);
    EXPECT_FALSE(first[0].retain);

    // A subscriber that comes later gets the retained message, marked as such.
    MqttSubscriber late(broker.port(), QStringLiteral("zentlog/kept"));
    ASSERT_TRUE(late.waitForCount(1, kWaitMs));
    EXPECT_EQ(late.messages()[0].payload, QByteArray("still here"));
    EXPECT_TRUE(late.messages()[0].retain);

    // Bad topics are refused by the client, not sent.
    EXPECT_EQ(client.publish(message("zentlog/+/bad", "x")), 0);
    EXPECT_TRUE(client.lastError().contains(QStringLiteral("zentlog/+/bad")));
    EXPECT_EQ(client.publish(message("", "x")), 0);
    EXPECT_EQ(client.publish(message("zentlog/a", "x", 3)), 0);
    EXPECT_EQ(client.publish(Message{QStringLiteral("zentlog/a") + QChar(0) + QStringLiteral("b"), "x"}), 0)
        << "a NUL would cut the topic short";
    EXPECT_TRUE(client.isConnected()) << "a refused message leaves the connection alone";

    // Subscriptions bring messages to the client itself.
    client.subscribe(QStringLiteral("zentlog/in/#"));
    settle(300);
    ASSERT_GT(client.publish(message("zentlog/in/x", "loop")), 0);
    waitFor([&] { return !recorder.received.empty(); }, kWaitMs);
    ASSERT_EQ(recorder.received.size(), 1u);
    EXPECT_EQ(recorder.received[0].first, QStringLiteral("zentlog/in/x"));
    EXPECT_EQ(recorder.received[0].second, QByteArray("loop"));

    client.stop();
    settle(100);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.publish(message("zentlog/a", "after")), 0);
    EXPECT_TRUE(recorder.faults.isEmpty()) << recorder.faults.join(QLatin1Char('\n')).toStdString();
}

TEST(MqttClient, WorksWithDescriptorsAbove1024)
{
    // A process with a thousand clients has sockets past select()'s limit of 1024.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 1300) {
        limit.rlim_cur = std::min<rlim_t>(1300, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<int> filler;
    while (filler.size() < 1100) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        filler.push_back(fd);
    }
    struct Closer {
        std::vector<int>& fds;
        ~Closer()
        {
            for (int fd : fds)
                ::close(fd);
        }
    } closer{filler};
    if (filler.empty() || filler.back() < 1024)
        GTEST_SKIP() << "cannot open enough descriptors here";

    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttClient client(localOptions(broker.port()));
    Recorder recorder(client);
    client.start();
    ASSERT_TRUE(waitConnected(recorder));
    client.subscribe(QStringLiteral("zentlog/high"));
    settle(200);
    const int mid = client.publish(message("zentlog/high", "fd"));
    ASSERT_GT(mid, 0);
    waitFor([&] { return recorder.wasAcknowledged(mid) && !recorder.received.empty(); }, kWaitMs);
    EXPECT_TRUE(recorder.wasAcknowledged(mid));
    EXPECT_EQ(recorder.received.size(), 1u);
}

// The other half of WillArrivesOnlyWhenTheClientVanishes: run in a child process that the test
// kills. It connects with a will and waits to be killed.
TEST(MqttWillChild, DISABLED_ConnectsAndWaits)
{
    const int port = qEnvironmentVariableIntValue("ZENTLOG_TEST_BROKER_PORT");
    if (port == 0)
        GTEST_SKIP() << "only run by WillArrivesOnlyWhenTheClientVanishes";
    MqttClient::Options options = localOptions(port);
    int wills = 0;
    options.will = [&wills] {
        ++wills;
        return std::optional<Message>(message("zentlog/will", "gone", 1, false));
    };
    MqttClient client(options);
    QObject::connect(&client, &MqttClient::connected, [&] {
        std::printf("connected %d\n", wills);
        std::fflush(stdout);
    });
    client.start();
    waitFor([] { return false; }, 60000);
}

TEST(MqttClient, WillArrivesOnlyWhenTheClientVanishes)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/will"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));

    auto willOptions = [&] {
        MqttClient::Options options = localOptions(broker.port());
        options.will = [] { return std::optional<Message>(message("zentlog/will", "gone", 1, false)); };
        return options;
    };
    // A clean stop: the broker drops the will.
    {
        MqttClient client(willOptions());
        Recorder recorder(client);
        client.start();
        ASSERT_TRUE(waitConnected(recorder));
        client.stop();
        waitFor([&] { return !recorder.disconnected.isEmpty(); }, kWaitMs);
        ASSERT_EQ(recorder.disconnected.size(), 1);
        EXPECT_EQ(recorder.disconnected[0], QStringLiteral("stopped"));
        settle(1000);
    }
    // Destroyed while connected: a clean disconnect too.
    {
        auto client = std::make_unique<MqttClient>(willOptions());
        Recorder recorder(*client);
        client->start();
        ASSERT_TRUE(waitConnected(recorder));
        client.reset();
        settle(1000);
    }
    EXPECT_TRUE(subscriber.messages().empty()) << "no will after a clean disconnect";

    // A client that vanishes (its process killed) leaves its will behind.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZENTLOG_TEST_BROKER_PORT"), QString::number(broker.port()));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=MqttWillChild.DISABLED_ConnectsAndWaits"),
                 QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(child.waitForStarted(kWaitMs));
    QByteArray out;
    waitFor(
        [&] {
            out += child.readAllStandardOutput();
            return out.contains("connected");
        },
        kWaitMs);
    ASSERT_TRUE(out.contains("connected 1")) << out.toStdString() << "\nthe will is asked for once per attempt";
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished(kWaitMs);

    ASSERT_TRUE(subscriber.waitForCount(1, kWaitMs));
    EXPECT_EQ(subscriber.messages()[0].payload, QByteArray("gone"));
}

TEST(MqttClient, ReconnectsByItselfAfterAnOutageWithoutBusyWaiting)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttClient::Options options = localOptions(broker.port());
    options.reconnectDelayMs = 100;
    options.reconnectDelayMaxMs = 400;
    int willsAsked = 0;
    options.will = [&] {
        ++willsAsked;
        return std::optional<Message>(message("zentlog/will", QByteArray::number(willsAsked).constData()));
    };
    MqttClient client(options);
    Recorder recorder(client);
    client.subscribe(QStringLiteral("zentlog/back"));
    client.start();
    ASSERT_TRUE(waitConnected(recorder));

    broker.stop();
    waitFor([&] { return !recorder.disconnected.isEmpty(); }, kWaitMs);
    ASSERT_FALSE(recorder.disconnected.isEmpty());
    EXPECT_TRUE(recorder.disconnected[0].contains(QStringLiteral("127.0.0.1:%1").arg(broker.port())))
        << recorder.disconnected[0].toStdString();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.publish(message("zentlog/a", "x")), 0);

    // While the broker is away the client waits on its timer: a busy loop would burn a second
    // of CPU time in these two seconds.
    const double before = cpuSeconds();
    settle(2000);
    const double used = cpuSeconds() - before;
    EXPECT_LT(used, 0.5) << "CPU seconds used while the broker was down";
    const auto failedAttempts = recorder.disconnected.size();
    EXPECT_GE(failedAttempts, 3) << "it keeps trying";
    EXPECT_LE(failedAttempts, 15) << "with a growing delay, not at once";
    EXPECT_TRUE(recorder.faults.isEmpty()) << "a broker that is down is no fault the user can mend";

    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    ASSERT_TRUE(waitConnected(recorder, 2));
    EXPECT_GE(willsAsked, 3) << "the will is asked for before every attempt";
    MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/#"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));
    const int mid = client.publish(message("zentlog/back", "again"));
    ASSERT_GT(mid, 0);
    ASSERT_TRUE(subscriber.waitForCount(1, kWaitMs));
    EXPECT_EQ(subscriber.messages()[0].topic, QStringLiteral("zentlog/back"));
    waitFor([&] { return !recorder.received.empty(); }, kWaitMs);
    EXPECT_EQ(recorder.received.size(), 1u) << "the subscription is made again on the new connection";
}

TEST(MqttClient, ForgetsWhatWasNotAcknowledgedWhenTheConnectionDrops)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttClient client(localOptions(broker.port()));
    Recorder recorder(client);
    client.start();
    ASSERT_TRUE(waitConnected(recorder));

    // The broker hangs: the messages reach its socket but nothing is acknowledged; then it dies.
    broker.pause();
    std::vector<int> lost;
    for (int i = 0; i < 5; ++i) {
        lost.push_back(client.publish(message("zentlog/lost", QByteArray::number(i).constData())));
        ASSERT_GT(lost.back(), 0);
    }
    settle(300);
    broker.kill();
    waitFor([&] { return !recorder.disconnected.isEmpty(); }, kWaitMs);
    ASSERT_FALSE(recorder.disconnected.isEmpty());

    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/#"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));
    ASSERT_TRUE(waitConnected(recorder, 2));
    const int marker = client.publish(message("zentlog/marker", "after"));
    ASSERT_GT(marker, 0);
    ASSERT_TRUE(subscriber.waitFor([](const auto& m) { return !m.empty() && m.back().topic == QStringLiteral("zentlog/marker"); },
                                   kWaitMs));
    settle(300);
    EXPECT_TRUE(subscriber.messagesOn(QStringLiteral("zentlog/lost")).empty())
        << "messages of the old connection were sent again";
    for (int mid : lost)
        EXPECT_FALSE(recorder.wasAcknowledged(mid)) << mid;
}

TEST(MqttClient, AHungBrokerIsLeftAfterTheKeepaliveAndFoundAgain)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttClient::Options options = localOptions(broker.port());
    options.keepAliveSeconds = 5; // the least libmosquitto takes
    MqttClient client(options);
    Recorder recorder(client);
    client.start();
    ASSERT_TRUE(waitConnected(recorder));
    auto other = std::make_unique<MqttClient>(options);
    Recorder otherRecorder(*other);
    other->start();
    ASSERT_TRUE(waitConnected(otherRecorder));

    // The connection stays open but nothing comes back: only the keepalive can tell.
    broker.pause();
    // Nor does a client wait for such a broker when it is destroyed.
    other->publish(message("zentlog/stuck", "x"));
    QElapsedTimer destroying;
    destroying.start();
    other.reset();
    EXPECT_LT(destroying.elapsed(), 2000) << "ms to destroy a client of a hung broker";

    waitFor([&] { return !recorder.disconnected.isEmpty(); }, 30000);
    ASSERT_FALSE(recorder.disconnected.isEmpty()) << "no end of a connection that answers nothing";
    EXPECT_FALSE(client.isConnected());
    broker.resume();
    EXPECT_TRUE(waitConnected(recorder, 2));
}

TEST(MqttClient, UserNameAndPasswordAcceptedOrRefusedWithAClearFault)
{
    MqttBroker::Options brokerOptions;
    brokerOptions.users = {{QStringLiteral("station"), QStringLiteral("s3cret pass")}};
    MqttBroker broker(brokerOptions);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    const QString where = QStringLiteral("127.0.0.1:%1").arg(broker.port());

    {
        MqttClient::Options options = localOptions(broker.port());
        options.username = QStringLiteral("station");
        options.password = "s3cret pass";
        MqttClient client(options);
        Recorder recorder(client);
        client.start();
        ASSERT_TRUE(waitConnected(recorder)) << recorder.faults.join(QLatin1Char('\n')).toStdString();
        MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/#"), QStringLiteral("station"),
                                  QStringLiteral("s3cret pass"));
        ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));
        ASSERT_GT(client.publish(message("zentlog/auth", "ok")), 0);
        EXPECT_TRUE(subscriber.waitForCount(1, kWaitMs));
    }
    for (const auto& [user, password] : {std::pair{QStringLiteral("station"), QByteArray("wrong")},
                                         std::pair{QString(), QByteArray()}}) {
        MqttClient::Options options = localOptions(broker.port());
        options.username = user;
        options.password = password;
        options.reconnectDelayMs = 100;
        options.reconnectDelayMaxMs = 200;
        MqttClient client(options);
        Recorder recorder(client);
        client.start();
        waitFor([&] { return recorder.disconnected.size() >= 3; }, kWaitMs);
        EXPECT_EQ(recorder.connected, 0);
        EXPECT_FALSE(client.isConnected());
        EXPECT_GE(recorder.disconnected.size(), 3) << "it keeps trying";
        ASSERT_EQ(recorder.faults.size(), 1) << "said once: " << recorder.faults.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(recorder.faults[0].contains(where)) << recorder.faults[0].toStdString();
        EXPECT_TRUE(recorder.faults[0].contains(QStringLiteral("user name or password"))) << recorder.faults[0].toStdString();
    }
}

class MqttClientTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificatesDir_ = std::make_unique<QTemporaryDir>();
        certificates_ = testing_support::makeTestCertificates(certificatesDir_->path());
    }
    static void TearDownTestSuite() { certificatesDir_.reset(); }

    void SetUp() override { ASSERT_TRUE(certificates_.error.isEmpty()) << certificates_.error.toStdString(); }

    MqttClient::Options tlsOptions(const MqttBroker& broker, const QString& caFile) const
    {
        MqttClient::Options options = localOptions(broker.tlsPort());
        options.host = QStringLiteral("localhost");
        options.tls = true;
        options.caFile = caFile;
        return options;
    }

    // Connects with `caFile` to a broker showing `serverCert`; expects a fault containing
    // `expected`, no connection, and nothing published.
    void expectRefused(const QString& serverCert, const QString& caFile, const QString& expected,
                       const QString& host = QStringLiteral("localhost"))
    {
        MqttBroker::Options brokerOptions;
        brokerOptions.tls = testing_support::TlsListener{serverCert, certificates_.serverKeyFile};
        MqttBroker broker(brokerOptions);
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        MqttSubscriber subscriber(broker.port(), QStringLiteral("#"));
        ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));

        MqttClient::Options options = tlsOptions(broker, caFile);
        options.host = host;
        MqttClient client(options);
        Recorder recorder(client);
        QObject::connect(&client, &MqttClient::connected,
                         [&] { client.publish(message("zentlog/secret", "must not leave")); });
        client.start();
        waitFor([&] { return recorder.disconnected.size() >= 2; }, kWaitMs);
        EXPECT_EQ(recorder.connected, 0);
        ASSERT_EQ(recorder.faults.size(), 1) << recorder.faults.join(QLatin1Char('\n')).toStdString();
        const QString fault = recorder.faults[0];
        EXPECT_TRUE(fault.contains(QStringLiteral("%1:%2").arg(host).arg(broker.tlsPort()))) << fault.toStdString();
        EXPECT_TRUE(fault.contains(expected)) << fault.toStdString();
        EXPECT_EQ(client.publish(message("zentlog/secret", "must not leave")), 0);
        settle(300);
        EXPECT_TRUE(subscriber.messages().empty());
    }

    static inline std::unique_ptr<QTemporaryDir> certificatesDir_;
    static inline testing_support::TestCertificates certificates_;
};

TEST_F(MqttClientTls, TheRightAuthorityConnectsAndPublishes)
{
    MqttBroker::Options brokerOptions;
    brokerOptions.tls = testing_support::TlsListener{certificates_.serverCertFile, certificates_.serverKeyFile};
    MqttBroker broker(brokerOptions);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    MqttSubscriber subscriber(broker.port(), QStringLiteral("zentlog/#"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed(kWaitMs));

    MqttClient client(tlsOptions(broker, certificates_.caFile));
    Recorder recorder(client);
    client.start();
    ASSERT_TRUE(waitConnected(recorder)) << recorder.faults.join(QLatin1Char('\n')).toStdString() << "\n"
                                         << recorder.disconnected.join(QLatin1Char('\n')).toStdString();
    // Many messages back to the client itself: OpenSSL reads ahead of what the socket shows.
    client.subscribe(QStringLiteral("zentlog/echo/#"));
    settle(300);
    constexpr int kEchoes = 500;
    for (int i = 0; i < kEchoes; ++i)
        ASSERT_GT(client.publish(message("zentlog/echo/n", QByteArray::number(i).constData(), 0)), 0);
    waitFor([&] { return recorder.received.size() >= kEchoes; }, kWaitMs);
    EXPECT_EQ(recorder.received.size(), static_cast<std::size_t>(kEchoes));

    const int mid = client.publish(message("zentlog/tls", "sealed"));
    ASSERT_GT(mid, 0);
    waitFor([&] { return recorder.wasAcknowledged(mid); }, kWaitMs);
    EXPECT_TRUE(recorder.wasAcknowledged(mid));
    ASSERT_TRUE(subscriber.waitFor([](const auto& m) { return !m.empty() && m.back().payload == "sealed"; }, kWaitMs));
    EXPECT_EQ(subscriber.messagesOn(QStringLiteral("zentlog/echo/n")).size(), static_cast<std::size_t>(kEchoes));

    // The broker goes away and comes back: the client finds it again over TLS.
    broker.stop();
    waitFor([&] { return !recorder.disconnected.isEmpty(); }, kWaitMs);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    EXPECT_TRUE(waitConnected(recorder, 2));
    EXPECT_TRUE(recorder.faults.isEmpty());
}

TEST_F(MqttClientTls, AnUnrelatedAuthorityIsRefused)
{
    expectRefused(certificates_.serverCertFile, certificates_.otherCaFile,
                  QStringLiteral("its certificate could not be verified (unable to get local issuer certificate) against %1")
                      .arg(certificates_.otherCaFile));
}

TEST_F(MqttClientTls, AnExpiredCertificateIsRefused)
{
    expectRefused(certificates_.expiredServerCertFile, certificates_.caFile,
                  QStringLiteral("its certificate could not be verified (certificate has expired)"));
}

TEST_F(MqttClientTls, ACertificateForAnotherNameIsRefused)
{
    expectRefused(certificates_.wrongNameServerCertFile, certificates_.caFile, QStringLiteral("(hostname mismatch)"));
    expectRefused(certificates_.wrongNameServerCertFile, certificates_.caFile, QStringLiteral("(IP address mismatch)"),
                  QStringLiteral("127.0.0.1"));
}

TEST_F(MqttClientTls, TheSystemStoreDoesNotKnowTheTestAuthority)
{
    expectRefused(certificates_.serverCertFile, QString(), QStringLiteral("the system's certificate store"));
}

TEST_F(MqttClientTls, AnUnreadableOrUnusableCaFileIsNamed)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing-ca.pem"));
    const QString garbage = dir.filePath(QStringLiteral("garbage-ca.pem"));
    testing_support::writeFile(garbage, QByteArray("not a certificate\n\x01\x02\xff", 21));
    for (const QString& caFile : {missing, garbage}) {
        MqttBroker::Options brokerOptions;
        brokerOptions.tls = testing_support::TlsListener{certificates_.serverCertFile, certificates_.serverKeyFile};
        MqttBroker broker(brokerOptions);
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        MqttClient client(tlsOptions(broker, caFile));
        Recorder recorder(client);
        client.start();
        waitFor([&] { return recorder.disconnected.size() >= 2; }, kWaitMs);
        EXPECT_EQ(recorder.connected, 0);
        ASSERT_EQ(recorder.faults.size(), 1) << recorder.faults.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(recorder.faults[0].contains(caFile)) << recorder.faults[0].toStdString();
        EXPECT_TRUE(QFileInfo(garbage).exists()) << "the CA file is only read";
    }
}

TEST_F(MqttClientTls, TheWrongKindOfListenerOrNoneEndsInDisconnection)
{
    MqttBroker::Options brokerOptions;
    brokerOptions.tls = testing_support::TlsListener{certificates_.serverCertFile, certificates_.serverKeyFile};
    MqttBroker broker(brokerOptions);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    const int closedPort = testing_support::freeLocalPort();

    struct Case {
        const char* what;
        int port;
        bool tls;
    };
    for (const Case& c : {Case{"TLS to the plain listener", broker.port(), true},
                          Case{"plain MQTT to the TLS listener", broker.tlsPort(), false},
                          Case{"TLS to a closed port", closedPort, true}}) {
        SCOPED_TRACE(c.what);
        MqttClient::Options options = tlsOptions(broker, certificates_.caFile);
        options.port = c.port;
        options.tls = c.tls;
        MqttClient client(options);
        Recorder recorder(client);
        const double before = cpuSeconds();
        client.start();
        waitFor([&] { return recorder.disconnected.size() >= 3; }, kWaitMs);
        EXPECT_GE(recorder.disconnected.size(), 3);
        EXPECT_EQ(recorder.connected, 0);
        EXPECT_LT(cpuSeconds() - before, 1.0) << "CPU seconds";
        client.stop();
    }
}

TEST(MqttClient, AnUnknownHostIsAFaultAndTheClientKeepsTrying)
{
    MqttClient::Options options;
    options.host = QStringLiteral("no-such-broker.invalid");
    options.port = 1883;
    options.reconnectDelayMs = 100;
    options.reconnectDelayMaxMs = 200;
    MqttClient client(options);
    Recorder recorder(client);
    client.start();
    waitFor([&] { return recorder.disconnected.size() >= 3; }, kWaitMs);
    EXPECT_GE(recorder.disconnected.size(), 3);
    ASSERT_EQ(recorder.faults.size(), 1);
    EXPECT_TRUE(recorder.faults[0].contains(QStringLiteral("no-such-broker.invalid:1883"))) << recorder.faults[0].toStdString();
    client.stop();
    const auto count = recorder.disconnected.size();
    settle(500);
    EXPECT_EQ(recorder.disconnected.size(), count) << "no attempts after stop()";
}

TEST(MqttClient, ABrokerThatWillNotTalkIsToldByWhatItDid)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    const char* closed = "the broker closed the connection during the TLS handshake; it may not speak TLS on that port";
    for (const auto& [tls, reason] : {std::pair{true, closed}, std::pair{false, "no answer from the broker within 0.5 s"}}) {
        if (!tls)
            broker.pause(); // the kernel takes the connection and nothing ever answers
        MqttClient::Options options = localOptions(broker.port());
        options.tls = tls;
        options.connectTimeoutMs = 500;
        MqttClient client(options);
        Recorder recorder(client);
        client.start();
        waitFor([&] { return !recorder.disconnected.isEmpty(); }, kWaitMs);
        EXPECT_EQ(recorder.disconnected.value(0),
                  QStringLiteral("connection to 127.0.0.1:%1 failed: %2").arg(broker.port()).arg(QLatin1String(reason)));
    }
}
