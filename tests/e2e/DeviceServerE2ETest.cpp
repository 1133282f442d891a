// A real serial device server in raw mode: socat listening on TCP in front of zentlog-sim on a
// pseudo-terminal, measured for five minutes by the session over rtu+tcp://, with socat restarted
// once in the middle. Every tick is accounted for, the outage is reported once, readings resume.

#include "SimProcess.h"

#include "ScriptedDialogs.h"

#include "config/ChannelConfiguration.h"
#include "config/MeasurementTypes.h"
#include "measure/MeasurementSession.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialSettings.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

void startSocat(QProcess& socat, uint16_t tcpPort, const QString& line)
{
    socat.start(QStringLiteral("socat"), {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(tcpPort),
                                          QStringLiteral("FILE:%1,raw,echo=0").arg(line)});
    ASSERT_TRUE(socat.waitForStarted(5000));
}

} // namespace

TEST(DeviceServerE2E, FiveMinutesBehindSocatWithOneRestart)
{
    testing_support::SimProcess sim({"1 0 ph fixed value=701", "2 20 orp fixed value=-120"});
    auto probe = std::make_unique<QTcpServer>(); // a free port for socat
    ASSERT_TRUE(probe->listen(QHostAddress::LocalHost));
    const uint16_t tcpPort = probe->serverPort();
    probe.reset();
    QProcess socat;
    startSocat(socat, tcpPort, sim.linkPath());
    qputenv("ZENTLOG_COM1", QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(tcpPort).toLatin1());

    QTemporaryDir dir;
    testing_support::ScriptedDialogs dialogs;
    config::ChannelConfiguration channels(dialogs, dir.path());
    channels.ensureLoaded();
    const std::pair<int16_t, const char*> inputs[] = {{config::TypePH, "1"}, {config::TypeORP, "2"}};
    for (int i = 0; i < 2; ++i) {
        channels.setSelected(i, 1);
        channels.setMeasurementType(i, inputs[i].first);
        channels.setStationAddress(i, QString::fromLatin1(inputs[i].second));
        channels.setRoleOption(i, i == 0 ? 0 : 1, true);
    }
    measure::MeasurementFlags flags;
    serial::QtSerialControl port;
    const serial::SerialSettings settings = serial::SerialSettings::defaults();
    measure::MeasurementSession session(channels, flags, port, settings);

    int ticks = 0, skipped = 0, cycles = 0, visits = 0, failures = 0, values = 0, reported = 0, restored = 0,
        valuesAfterRestart = 0;
    bool restarted = false;
    QObject::connect(&session.timer(), &QTimer::timeout, [&] {
        ++ticks;
        // A tick that came while a cycle ran was skipped: that cycle is still under way now.
        skipped += flags.CycleRunning ? 1 : 0;
    });
    QObject::connect(&session, &measure::MeasurementSession::cycleCompleted, [&] { ++cycles; });
    QObject::connect(&session, &measure::MeasurementSession::channelVisited,
                     [&](int, const diagnostics::Exchange& exchange) {
                         ++visits;
                         (exchange.outcome.ok() ? values : failures) += 1;
                         valuesAfterRestart += restarted && exchange.outcome.ok() ? 1 : 0;
                     });
    QObject::connect(&session, &measure::MeasurementSession::portFailed, [&] { ++reported; });
    QObject::connect(&session, &measure::MeasurementSession::portRestored, [&] { ++restored; });

    QEventLoop loop;
    QTimer::singleShot(150'000, [&] {
        socat.kill(); // the device server goes away; its port is free again at once (reuseaddr)
        socat.waitForFinished(2000);
        QTimer::singleShot(3000, [&] {
            startSocat(socat, tcpPort, sim.linkPath());
            restarted = true;
        });
    });
    QTimer::singleShot(300'000, &loop, &QEventLoop::quit);
    session.start();
    loop.exec();
    session.timer().stop();

    EXPECT_GE(ticks, 280);
    EXPECT_EQ(ticks, cycles + skipped);
    EXPECT_EQ(visits, 2 * cycles);
    EXPECT_EQ(visits, values + failures);
    EXPECT_LT(failures, 2 * 20) << "the outage lasts a few seconds and the reconnection delay stays short";
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(restored, 1);
    EXPECT_GE(valuesAfterRestart, 2 * 120);
    EXPECT_EQ(session.valueText(0), QString::fromUtf16(u"7.01 pH     18.0  \u00B0C"));
    socat.kill();
    socat.waitForFinished(2000);
}
