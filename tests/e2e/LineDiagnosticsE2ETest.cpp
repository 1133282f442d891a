// The outcome of every exchange and the line's counters, against zentlog-sim injecting faults at
// random: each visit must end exactly as the simulator's fault log says it was treated.

#include "SimProcess.h"
#include "TestFiles.h"

#include "config/MeasurementTypes.h"
#include "diagnostics/LineCounters.h"
#include "measure/StationReaders.h"
#include "serial/LateReplies.h"
#include "serial/QtSerialControl.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <iostream>
#include <map>

using diagnostics::InvalidReason;
using diagnostics::Outcome;
using diagnostics::OutcomeKind;
using testing_support::SimProcess;

namespace {

// Short limits keep the run quick; the faults are sized against them: a late reply of 600 ms
// misses the 400 ms limit, one of 150 ms does not.
constexpr serial::ReplyLimits kLimits{2000, 400, 1500};

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Visit {
    int address = 0;
    diagnostics::Exchange exchange;
};

// What the simulator did with each request it received, in order: the faults it applied.
struct Treated {
    int address = 0;
    QStringList faults;
};

std::vector<Treated> readSimLogs(const SimProcess& sim, int& recreations)
{
    std::vector<Treated> requests;
    std::map<QString, QStringList> faultsAt; // "MS ADDRESS" -> faults
    recreations = 0;
    const QStringList faultLines = QString::fromLatin1(testing_support::readFile(sim.faultLogPath())).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : faultLines) {
        const QStringList f = line.split(u' ');
        if (f.value(3) == QLatin1String("recreated"))
            ++recreations;
        else
            faultsAt[f[0] + u' ' + f[1]] << f[3];
    }
    const QStringList requestLines = QString::fromLatin1(testing_support::readFile(sim.requestLogPath())).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : requestLines) {
        const QStringList f = line.split(u' ');
        requests.push_back(Treated{f[1].toInt(), faultsAt[f[0] + u' ' + f[1]]});
    }
    return requests;
}

// The outcome the program must find for a request the simulator treated with `faults`.
Outcome expectedOutcome(const QStringList& faults)
{
    for (const QString& fault : faults) {
        if (fault == QLatin1String("silent") || fault == QLatin1String("late=600"))
            return Outcome::noReply(kLimits.replyMs);
        if (fault == QLatin1String("badcrc"))
            return Outcome::invalidReply(InvalidReason::Crc);
        if (fault.startsWith(QLatin1String("truncate=")))
            return Outcome::invalidReply(InvalidReason::Length);
        if (fault.startsWith(QLatin1String("wrongaddr=")))
            return Outcome::invalidReply(InvalidReason::Address);
        if (fault.startsWith(QLatin1String("exception=")))
            return Outcome::exception(fault.mid(10).toInt());
    }
    return Outcome::value(); // no fault, leading noise, or a reply late but within the limit
}

TEST(LineDiagnosticsE2E, EveryVisitEndsAsTheSimulatorsFaultLogSays)
{
    SimProcess sim({
        "1 0 ph silent prob=0.3",
        "2 0 ph badcrc prob=0.3",
        "3 0 ph exception=2 prob=0.3",
        "4 0 ph exception=6 prob=0.3",
        "5 0 ph noise=5 prob=0.3",
        "6 0 ph truncate=9 prob=0.3",
        "7 0 ph wrongaddr=99 prob=0.3",
        "8 0 ph late=600 prob=0.3",
        "9 0 ph late=150 prob=0.3",
    }, {QStringLiteral("--seed"), QStringLiteral("7")});
    qputenv("ZENTLOG_COM1", sim.linkPath().toLocal8Bit());
    serial::QtSerialControl port;
    port.setCommPort(1);
    port.setInputLen(0);
    ASSERT_TRUE(port.setSettings("9600,n,8, 1"));

    serial::LateReplies late;
    std::map<int, diagnostics::ChannelCounters> perStation;
    measure::StationValues values;
    std::vector<Visit> visits;
    constexpr int kCycles = 26;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (cycle == kCycles / 2)
            sim.recreateLine(); // the line goes away between two cycles, as an unplugged adapter
        // As the measurement does at every tick: a port that is not open is opened again.
        if (!port.PortOpen())
            port.setPortOpen(true);
        for (int address = 1; address <= 9; ++address) {
            const diagnostics::Exchange exchange =
                measure::ReadStation(config::TypePH, port, address, 0, values, kLimits, &late);
            diagnostics::countVisit(perStation[address], exchange.endedAtMs, exchange.outcome, exchange.replyMs);
            for (const diagnostics::StationBlock& owner : exchange.lateReplies)
                ++perStation[owner.address].lateReplies;
            visits.push_back(Visit{address, exchange});
        }
        // The late reply of station 8 comes 200 ms after its limit: at the latest during this pause.
        pause(300);
    }
    // One more request collects a late reply still on its way.
    const diagnostics::Exchange last = measure::ReadStation(config::TypePH, port, 5, 0, values, kLimits, &late);
    for (const diagnostics::StationBlock& owner : last.lateReplies)
        ++perStation[owner.address].lateReplies;

    int recreations = 0;
    const std::vector<Treated> treated = readSimLogs(sim, recreations);
    EXPECT_EQ(recreations, 1);

    // Visits on a port lost with the old line never reached the simulator: at most one cycle's
    // worth, one "port lost" and the rest "port not open"; every other visit matches, in order,
    // a request the simulator logged.
    std::size_t next = 0;
    int portFailures = 0, faultyVisits = 0, lateExpected = 0, checked = 0;
    std::map<int, diagnostics::ChannelCounters> expectedCounts;
    for (const Visit& v : visits) {
        const OutcomeKind kind = v.exchange.outcome.kind;
        if (kind == OutcomeKind::PortLost || kind == OutcomeKind::PortClosed) {
            ++portFailures;
            EXPECT_TRUE(kind == OutcomeKind::PortClosed || portFailures == 1);
            diagnostics::countVisit(expectedCounts[v.address], 0, v.exchange.outcome, std::nullopt);
            continue;
        }
        ASSERT_LT(next, treated.size()) << "a visit the simulator never saw";
        const Treated& t = treated[next++];
        ASSERT_EQ(t.address, v.address);
        const Outcome expected = expectedOutcome(t.faults);
        EXPECT_EQ(v.exchange.outcome, expected)
            << "station " << v.address << " faults '" << t.faults.join(u',').toStdString() << "': got "
            << v.exchange.outcome.describe().toStdString() << ", expected " << expected.describe().toStdString();
        diagnostics::countVisit(expectedCounts[v.address], 0, expected, std::nullopt);
        faultyVisits += t.faults.isEmpty() ? 0 : 1;
        lateExpected += t.faults.contains(QStringLiteral("late=600")) ? 1 : 0;
        if (t.faults.contains(QStringLiteral("late=150"))) {
            ASSERT_TRUE(v.exchange.replyMs.has_value());
            EXPECT_GE(*v.exchange.replyMs, 130.0); // 150 ms less the request's 8.3 ms on the wire
        }
        ++checked;
    }
    EXPECT_LE(portFailures, 9);
    EXPECT_GE(checked, 200);
    EXPECT_GE(faultyVisits, 40) << "the run must exercise the faults";
    EXPECT_GT(lateExpected, 0);
    std::cout << checked << " visits checked, " << faultyVisits << " with faults, " << lateExpected
              << " late replies, " << portFailures << " visits on a lost port\n";

    // The counters agree with the log, station by station.
    for (int address = 1; address <= 9; ++address) {
        const diagnostics::ChannelCounters& got = perStation[address];
        const diagnostics::ChannelCounters& want = expectedCounts[address];
        EXPECT_EQ(got.requests, want.requests) << address;
        EXPECT_EQ(got.replies, want.replies) << address;
        EXPECT_EQ(got.noReply, want.noReply) << address;
        EXPECT_EQ(got.invalid, want.invalid) << address;
        EXPECT_EQ(got.exceptions, want.exceptions) << address;
        EXPECT_EQ(got.portLost + got.portClosed, want.portLost + want.portClosed) << address;
        EXPECT_EQ(got.replyTimes.count(), got.replies) << address;
    }
    // Every late reply was recognised and counted for the station that owed it, never as a
    // damaged reply of another.
    EXPECT_EQ(perStation[8].lateReplies, static_cast<uint64_t>(lateExpected));
    for (int address = 1; address <= 9; ++address) {
        if (address != 8) {
            EXPECT_EQ(perStation[address].lateReplies, 0U) << address;
        }
    }
}

} // namespace
