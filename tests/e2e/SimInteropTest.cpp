// The program's readers against an independent Modbus stack: zentlog-sim on a real
// pseudo-terminal, through the QSerialPort layer.

#include "SimProcess.h"
#include "TestFiles.h"

#include "config/MeasurementTypes.h"
#include "measure/StationReaders.h"
#include "measure/ValueText.h"
#include "serial/QtSerialControl.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace measure;
using testing_support::SimProcess;

namespace {

class SimInteropTest : public ::testing::Test {
protected:
    // Opens COM1 on the simulator's terminal.
    void connectTo(const SimProcess& sim)
    {
        qputenv("ZENTLOG_COM1", sim.device().toLocal8Bit());
        port.setCommPort(1);
        ASSERT_TRUE(port.setSettings("9600,n,8, 1"));
        port.setInputLen(0);
        ASSERT_TRUE(port.setPortOpen(true)) << port.errorString().toStdString();
    }

    // Reads a station and returns its value text, or "Out of order"; `elapsedMs` says how long.
    QString read(int16_t type, double address, int16_t start = 0)
    {
        QElapsedTimer clock;
        clock.start();
        const bool ok = ReadStation(type, port, address, start, values).ok();
        elapsedMs = clock.elapsed();
        return ok ? FormatChannelValue(type, values) : kOutOfOrder;
    }

    serial::QtSerialControl port;
    StationValues values;
    qint64 elapsedMs = 0;
};

// The same stations on a pseudo-terminal, behind a serial device server and behind a Modbus TCP
// gateway: every label is the same.
class SimTransportTest : public SimInteropTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SimTransportTest, EveryMeasurementTypeIsReadAndShown)
{
    const QString mode = QString::fromLatin1(GetParam());
    const QStringList transport = mode == u"pty"
        ? QStringList()
        : QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--mode"), mode};
    SimProcess sim({
        "1 0 resistivity fixed",
        "1 20 conductivity fixed", // a second block of the same station
        "2 0 ph fixed value=-1",
        "3 20 orp fixed value=-500 temp=-200",
        "4 0 oxygen fixed code=2 value=985",
        "5 0 flow fixed code=31 value=40000 total1=0 total2=123456",
        "6 0 chlorine fixed value=1234",
        "7 0 c_tor fixed code=4 value=37",
        "8 0 nacl fixed value=123",
        "9 0 naoh fixed", "10 0 hcl fixed", "11 0 h2so4 fixed",
        "12 0 turbidity fixed code=0x23 value=1234",
        "13 0 r_627 fixed",
        "14 0 381 fixed code=0x71 value=2000",
        "15 0 452 fixed regs=0012,0,0,FE0C,0,0,0,0",
    }, transport);
    connectTo(sim);

    struct Case {
        int16_t type;
        double address;
        int16_t start;
        const char16_t* text;
    };
    const Case cases[] = {
        {config::TypeResistivity, 1, 0, u"18.20 MOhm 25.0 \u00B0C"},
        {config::TypeConductivity, 1, 20, u" 450.0  \u00B5S     20.0  \u00B0C"},
        {config::TypePH, 2, 0, u"-0.01 pH     18.0  \u00B0C"},
        {config::TypeORP, 3, 20, u"-500 mV     -20.0  \u00B0C"},
        {config::TypeOxygen, 4, 0, u"    098.5  %      15.0  \u00B0C"},
        {config::TypeFlow, 5, 0, u"   40000  m3/h    12.0  \u00B0C\r\n 0   m3  \r\n 123456   m3  "},
        {config::TypeChlorine, 6, 0, u"1.234 mg/l   20.0  \u00B0C"},
        {config::TypeConductivitySwitch, 7, 0, u" 37  mS     20.0  \u00B0C"},
        {config::TypeNaCl, 8, 0, u" 12.3  %     20.0  \u00B0C"},
        {config::TypeNaOH, 9, 0, u" 3.5  %     20.0  \u00B0C"},
        {config::TypeHCl, 10, 0, u" 3.5  %     20.0  \u00B0C"},
        {config::TypeH2SO4, 11, 0, u" 3.5  %     20.0  \u00B0C"},
        {config::TypeTurbidity, 12, 0, u" 123.4  mg/l     20.0  \u00B0C"},
        {config::TypeR627, 13, 0, u"18.20 MOhm\r\n17.50 MOhm"},
        {config::Type381, 14, 0, u" 2.000  \u00B0C     15.0  \u00B0C"},
        {config::Type452, 15, 0, u" -5.00  g/l     0.0  \u00B0C"},
    };
    QStringList expectedRequests;
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.type, c.address, c.start), QString::fromUtf16(c.text)) << "type " << c.type;
        expectedRequests << QStringLiteral("%1 3 %2 8").arg(c.address).arg(c.start);
    }
    EXPECT_EQ(sim.requests(), expectedRequests);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimTransportTest, ::testing::Values("pty", "rtu", "modbus"));

TEST_F(SimInteropTest, ASilentStationFailsAfterTheReceptionLimit)
{
    SimProcess sim({"1 0 ph silent", "2 0 ph fixed"});
    connectTo(sim);
    EXPECT_EQ(read(config::TypePH, 1), kOutOfOrder);
    EXPECT_GE(elapsedMs, 2000);
    EXPECT_LT(elapsedMs, 2800);
    EXPECT_FALSE(values.PhValue.has_value());
    // The station beside it answers at once.
    EXPECT_EQ(read(config::TypePH, 2), QString::fromUtf16(u"7.00 pH     18.0  \u00B0C"));
    EXPECT_LT(elapsedMs, 1000);
    EXPECT_EQ(sim.requests(), QStringList({"1 3 0 8", "2 3 0 8"}));
}

TEST_F(SimInteropTest, DamagedRepliesNeverProduceAValue)
{
    SimProcess sim({
        "1 0 ph fixed value=111 badcrc",
        "2 0 ph fixed value=222 exception=2",
        "3 0 ph fixed value=333 wrongaddr=1",
        "4 0 ph fixed value=444 truncate=20",
        "5 0 ph fixed value=555 noise=7",
        "6 0 ph fixed value=666 noise=3 truncate=12",
    });
    connectTo(sim);
    EXPECT_EQ(read(config::TypePH, 1), kOutOfOrder);
    EXPECT_EQ(read(config::TypePH, 2), kOutOfOrder);
    EXPECT_LT(elapsedMs, 1000); // the exception ends the wait at once
    EXPECT_EQ(read(config::TypePH, 3), kOutOfOrder);
    EXPECT_EQ(read(config::TypePH, 4), kOutOfOrder);
    EXPECT_FALSE(values.PhValue.has_value());
    // Noise before a good frame is skipped: the station's own value, not shifted bytes.
    EXPECT_EQ(read(config::TypePH, 5), QString::fromUtf16(u"5.55 pH     18.0  \u00B0C"));
    EXPECT_EQ(read(config::TypePH, 6), kOutOfOrder);
    EXPECT_EQ(values.PhValue, 5.55);
}

TEST_F(SimInteropTest, ALateReplyToAnEarlierRequestIsNotTakenForTheNextStation)
{
    // Station 1 answers 2.5 s late, while the program already waits for station 2, whose own
    // reply comes after it.
    SimProcess sim({"1 0 orp fixed value=-111 late=2500", "2 0 orp fixed value=222 delay=1200"});
    connectTo(sim);
    EXPECT_EQ(read(config::TypeORP, 1), kOutOfOrder);
    EXPECT_EQ(read(config::TypeORP, 2), QString::fromUtf16(u"222 mV     18.0  \u00B0C"));
    EXPECT_GE(elapsedMs, 1000);
}

TEST_F(SimInteropTest, FaultsChangeAtRunTimeAndTheLineCanComeBack)
{
    SimProcess sim({"1 0 ph fixed"});
    connectTo(sim);
    EXPECT_EQ(read(config::TypePH, 1), QString::fromUtf16(u"7.00 pH     18.0  \u00B0C"));
    sim.reconfigure({"1 0 ph fixed exception"});
    EXPECT_EQ(read(config::TypePH, 1), kOutOfOrder);
    sim.reconfigure({"1 0 ph fixed value=701"});
    EXPECT_EQ(read(config::TypePH, 1), QString::fromUtf16(u"7.01 pH     18.0  \u00B0C"));

    // The terminal goes away: the reading fails, the port is released and opens again on the
    // new terminal.
    sim.recreateLine();
    EXPECT_EQ(read(config::TypePH, 1), kOutOfOrder);
    port.setPortOpen(false);
    ASSERT_TRUE(port.setPortOpen(true)) << port.errorString().toStdString();
    EXPECT_EQ(read(config::TypePH, 1), QString::fromUtf16(u"7.01 pH     18.0  \u00B0C"));
}

TEST(PollToolTest, PrintsTheValueTextAndSaysHowTheReadingWent)
{
    SimProcess sim({"1 20 flow fixed", "2 0 ph silent"});
    using testing_support::runPoll;
    const QString device = sim.linkPath();

    auto run = runPoll({"--device", device, "--address", "1", "--role", "Ext", "--type", "Flow"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.output, QString::fromUtf16(u"  12.50  m3/h    12.0  \u00B0C\n 1234   m3  \n 123456   m3  \n"));

    run = runPoll({"--device", device, "--address", "1.5", "--role", "master", "--type", "5"});
    EXPECT_EQ(run.exitCode, 1); // 1.5 rounds to 2, a pH station that is silent
    EXPECT_EQ(run.output, "Out of order\n");

    run = runPoll({"--device", device, "--address", "1", "--role", "Ext", "--type", "flow", "--watch", "--count", "2",
                   "--interval", "0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.count(QStringLiteral("m3/h")), 2);

    for (const QStringList& bad : {QStringList{"--device", device, "--address", "1", "--role", "Ext"},
                                   QStringList{"--device", device, "--address", "x", "--role", "Ext", "--type", "1"},
                                   QStringList{"--port", "COM9", "--address", "1", "--role", "Ext", "--type", "1"},
                                   QStringList{"--device", device, "--address", "1", "--role", "Boss", "--type", "1"},
                                   QStringList{"--device", device, "--address", "1", "--role", "Ext", "--type", "Gold"},
                                   QStringList{"--device", device, "--settings", "fast", "--address", "1", "--role",
                                               "Ext", "--type", "1"},
                                   QStringList{"--device", "/nonexistent/tty", "--address", "1", "--role", "Ext",
                                               "--type", "1"}}) {
        run = runPoll(bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(run.output.isEmpty());
        EXPECT_FALSE(run.errors.isEmpty());
    }
    EXPECT_EQ(sim.requests(), QStringList({"1 3 20 8", "2 3 0 8", "1 3 20 8", "1 3 20 8"}));
}

TEST(PollToolTest, StatsEndTheRunInOneLineThatScriptsRead)
{
    SimProcess sim({"1 0 ph fixed", "2 0 ph silent", "3 0 ph exception=6"});
    using testing_support::runPoll;
    const QStringList common{"--device", sim.linkPath(), "--role", "Master", "--type", "pH", "--stats"};

    auto run = runPoll(common + QStringList{"--address", "1", "--watch", "--count", "3", "--interval", "0", "--trace"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QStringList lines = run.output.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression stats(QStringLiteral(
        R"(^requests=3 replies=3 timeouts=0 invalid=0 exceptions=0 lost=0 reply_ms_min=\d+\.\d )"
        R"(reply_ms_mean=\d+\.\d reply_ms_p95=\d+\.\d reply_ms_max=\d+\.\d$)"));
    EXPECT_TRUE(stats.match(lines.last()).hasMatch()) << lines.last().toStdString();
    // Each frame in hex on standard error, both ways, with the outcome.
    const QRegularExpression tx(QStringLiteral(R"(\d\d:\d\d:\d\d\.\d{3} COM1 TX 01 03 00 00 00 08 44 0C\n)"));
    const QRegularExpression rx(QStringLiteral(R"(COM1 RX 01 03 10( [0-9A-F]{2}){18} \| value \d+\.\d ms\n)"));
    EXPECT_EQ(run.errors.count(tx), 3) << run.errors.toStdString();
    EXPECT_EQ(run.errors.count(rx), 3) << run.errors.toStdString();

    // Without a reply there is no time to give.
    run = runPoll(common + QStringList{"--address", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "Out of order\nrequests=1 replies=0 timeouts=1 invalid=0 exceptions=0 lost=0 "
                          "reply_ms_min=- reply_ms_mean=- reply_ms_p95=- reply_ms_max=-\n");
    run = runPoll(common + QStringList{"--address", "3", "--trace"});
    EXPECT_TRUE(run.output.endsWith("requests=1 replies=0 timeouts=0 invalid=0 exceptions=1 lost=0 "
                                    "reply_ms_min=- reply_ms_mean=- reply_ms_p95=- reply_ms_max=-\n"));
    EXPECT_TRUE(run.errors.contains(QStringLiteral("RX 03 83 06 "))) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(QStringLiteral("| exception_6"))) << run.errors.toStdString();

    // Ended by SIGTERM in the middle of an endless watch: the readings so far are counted.
    QProcess poll;
    poll.start(QStringLiteral(ZENTLOG_POLL), common + QStringList{"--address", "1", "--watch", "--interval", "100"});
    ASSERT_TRUE(poll.waitForStarted());
    QString output;
    for (int i = 0; i < 100 && output.count(QStringLiteral("pH")) < 2; ++i) {
        poll.waitForReadyRead(200);
        output += QString::fromUtf8(poll.readAllStandardOutput());
    }
    poll.terminate();
    ASSERT_TRUE(poll.waitForFinished(10000));
    output += QString::fromUtf8(poll.readAllStandardOutput());
    const QString last = output.split(u'\n', Qt::SkipEmptyParts).last();
    const QRegularExpression interrupted(QStringLiteral(R"(^requests=(\d+) replies=\1 timeouts=0 .* reply_ms_max=\d+\.\d$)"));
    EXPECT_TRUE(interrupted.match(last).hasMatch()) << output.toStdString();
}

TEST(SimToolTest, RefusesABadConfigurationAndNeverReplacesAFile)
{
    QTemporaryDir dir;
    const QString config = dir.filePath("bad.conf");
    testing_support::writeFile(config, "1 0 ph\n2 7 ph\n");
    QProcess sim;
    sim.start(QStringLiteral(ZENTLOG_SIM), {"--config", config});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_TRUE(sim.readAllStandardError().contains("line 2"));

    // --link never takes the place of a file that is not a link.
    const QString precious = dir.filePath("precious");
    testing_support::writeFile(precious, "keep");
    sim.start(QStringLiteral(ZENTLOG_SIM), {"--station", "1 0 ph", "--link", precious});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_EQ(testing_support::readFile(precious), "keep");
}

} // namespace
