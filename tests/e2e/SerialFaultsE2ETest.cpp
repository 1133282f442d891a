// Serial faults, end to end: the real program (application object, windows offscreen,
// QSerialPort) measures four stations that zentlog-sim serves on a pseudo-terminal while the
// simulator injects faults drawn at random with a fixed seed: silence, late replies (some arriving
// while the program already waits for the next request), wrong CRCs, truncated replies, exception
// replies, bursts of noise, replies carrying another address, and its pseudo-terminal closed and
// made anew. The value labels are sampled all along: each shows the exact value text of the
// registers its station holds, or "Out of order", and nothing else, ever.

#include "app/Application.h"
#include "config/MeasurementTypes.h"
#include "measure/F_Mesure.h"
#include "measure/ValueText.h"

#include "ProgramOnSim.h"
#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <random>

using namespace testing_support;

namespace {

constexpr unsigned kSeed = 20261208;
constexpr int kFaultsWanted = 1000;
constexpr int kCyclesPerDraw = 2;            // the faults change every two cycles
constexpr int kCyclesPerLineRecreation = 40; // on average
constexpr int kTickMs = 5;                   // cycles follow each other without the one-second pause

// The station blocks, with fixed registers so that each channel's value text is known exactly.
// The Ext. block answers slowly, so that a late reply of the pH block (same station) often comes
// while the program waits for the Ext. block's reply.
struct Block {
    int address;
    int block;
    int delayMs;
    const char* type;
    double lateWeight; // weight of a late reply among the faults drawn for it
};
const std::array<Block, 4> kBlocks{{
    {1, 0, 5, "ph", 4.0},
    {1, 20, 100, "orp", 0.8},
    {2, 0, 5, "conductivity", 0.8},
    {3, 0, 5, "flow", 0.8},
}};
const std::array<Channel, 4> kChannels{Channel{1, config::TypePH, "1", true}, Channel{1, config::TypeORP, "1", false},
                                       Channel{1, config::TypeConductivity, "2", true},
                                       Channel{1, config::TypeFlow, "3", true}};

QString blockLine(const Block& b)
{
    return QStringLiteral("%1 %2 %3 fixed delay=%4").arg(b.address).arg(b.block).arg(QLatin1String(b.type)).arg(b.delayMs);
}

QStringList cleanStations()
{
    QStringList lines;
    for (const Block& b : kBlocks)
        lines << blockLine(b);
    return lines;
}

// Faults drawn from a seeded generator. Silence, late replies, wrong CRCs, truncated replies and
// replies for another address each cost the program its 2000 ms reply limit, so they are a
// small share; noise and exception replies cost nothing and make up the rest.
class FaultDraw {
public:
    explicit FaultDraw(unsigned seed)
        : random_(seed)
    {
    }

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }

    // The simulator's line for `b` with one fault, applied to a share of the requests.
    QString stationLine(const Block& b)
    {
        const std::array<double, 7> weights{30, 26, 1, 1, 1, 0.7, b.lateWeight};
        std::discrete_distribution<int> kind(weights.begin(), weights.end());
        QString fault;
        switch (kind(random_)) {
        case 0: fault = QStringLiteral("noise=%1").arg(between(1, 40)); break;
        case 1:
            fault = chance(0.5) ? QStringLiteral("exception") : QStringLiteral("exception=%1").arg(between(1, 11));
            break;
        case 2: fault = QStringLiteral("badcrc"); break;
        case 3: fault = QStringLiteral("truncate=%1").arg(between(1, 20)); break;
        case 4: {
            static const std::array<int, 5> others{1, 2, 3, 9, 247};
            int address = b.address;
            while (address == b.address)
                address = others[static_cast<size_t>(between(0, 4))];
            fault = QStringLiteral("wrongaddr=%1").arg(address);
            break;
        }
        case 5: fault = QStringLiteral("silent"); break;
        default: fault = QStringLiteral("late=%1").arg(between(1990, 2200)); break;
        }
        const double probability = 0.25 + 0.75 * std::uniform_real_distribution<double>(0, 1)(random_);
        return blockLine(b) + u' ' + fault + QStringLiteral(" prob=") + QString::number(probability, 'f', 2);
    }

private:
    std::mt19937 random_;
};

// One line of the simulator's logs: time, station address, start register and what happened
// (the fault, or "3 8" for a request).
struct LogLine {
    qint64 ms = 0;
    int address = -1;
    int start = -1;
    QString what;
};

QList<LogLine> readLog(const QString& path)
{
    QList<LogLine> lines;
    for (const QByteArray& raw : readFile(path).split('\n')) {
        const QStringList f = QString::fromLatin1(raw).split(u' ', Qt::SkipEmptyParts);
        if (f.size() < 4)
            continue;
        LogLine line{f[0].toLongLong(), f[1].toInt(), f[2].toInt(), f.mid(3).join(u' ')};
        if (f.size() == 5) // a request: MS ADDRESS FUNCTION START COUNT
            line = LogLine{f[0].toLongLong(), f[1].toInt(), f[3].toInt(), f[2] + u' ' + f[4]};
        if (f[1] == u'-')
            line.address = line.start = -1;
        lines << line;
    }
    return lines;
}

// The fault's name without its value: "late=2100" gives "late".
QString kindOf(const LogLine& fault)
{
    return fault.what.section(u'=', 0, 0);
}

int delayOf(int address, int start)
{
    for (const Block& b : kBlocks)
        if (b.address == address && b.block == start)
            return b.delayMs;
    return 0;
}

// The label's text as the cycle made it, as the label shows it, and whether either may be shown.
class LabelCheck {
public:
    explicit LabelCheck(std::array<QString, 4> expected)
        : expected_(std::move(expected))
    {
    }

    // A text the cycle has just written.
    void checkWritten(const measure::F_Mesure& window, int i)
    {
        ++written;
        const long before = wrong;
        check(window, i);
        if (wrong > before)
            ++wrongWritten;
    }
    void check(const measure::F_Mesure& window, int i)
    {
        ++sampled;
        const QString text = window.valueText(i);
        const QString shown = measure::valueLabelText(text);
        const bool allowed = text == expected_[static_cast<size_t>(i)] || text == measure::kOutOfOrder;
        if (allowed && window.Etiquette3(i)->text() == shown)
            return;
        ++wrong;
        if (examples.size() < 10)
            examples << QStringLiteral("channel %1: \"%2\" (label \"%3\")").arg(i).arg(text, window.Etiquette3(i)->text());
    }
    void checkAll(const measure::F_Mesure& window)
    {
        for (int i = 0; i < 4; ++i)
            check(window, i);
    }
    bool allValues(const measure::F_Mesure& window) const
    {
        for (int i = 0; i < 4; ++i)
            if (window.valueText(i) != expected_[static_cast<size_t>(i)])
                return false;
        return true;
    }

    long sampled = 0;
    long wrong = 0;
    long written = 0;
    long wrongWritten = 0;
    QStringList examples;

private:
    std::array<QString, 4> expected_;
};

// What the late replies met: the request the program sent next, and when the reply came.
struct LateReplies {
    int afterNextRequest = 0;    // the late reply came while the program waited for its next request's reply
    int sameStationWaited = 0;   // the next request was for the other block of the same station, sent after the late reply
};

LateReplies analyseLateReplies(const QList<LogLine>& faults, const QList<LogLine>& requests)
{
    LateReplies result;
    for (const LogLine& fault : faults) {
        if (kindOf(fault) != u"late")
            continue;
        const qint64 delivered = fault.ms + delayOf(fault.address, fault.start) + fault.what.section(u'=', 1).toInt();
        // The faulty request is the last one logged at or before the fault; the next one follows it.
        qsizetype i = 0;
        while (i < requests.size() && requests[i].ms <= fault.ms)
            ++i;
        if (i >= requests.size())
            continue;
        const LogLine& next = requests[i];
        if (next.ms < delivered)
            ++result.afterNextRequest;
        else if (next.address == fault.address && next.start != fault.start)
            ++result.sameStationWaited;
    }
    return result;
}

void report(const char* key, long long value)
{
    ::testing::Test::RecordProperty(key, std::to_string(value));
    std::printf("%s %lld\n", key, value);
}

} // namespace

TEST(SerialFaultsE2E, AThousandRandomFaultsNeverShowAWrongTextAndEveryChannelComesBack)
{
    QElapsedTimer runTime;
    runTime.start();
    SimProcess sim(cleanStations(), {QStringLiteral("--seed"), QString::number(kSeed)});
    ASSERT_TRUE(sim.running());

    // The texts each label may show: what the program's own readers and formatting make of the
    // registers, read by zentlog-poll from the simulator before any fault.
    std::array<QString, 4> expected;
    for (size_t i = 0; i < 4; ++i) {
        const Channel& c = kChannels[i];
        const PollRun poll = runPoll({QStringLiteral("--device"), sim.linkPath(), QStringLiteral("--address"),
                                      QLatin1String(c.address), QStringLiteral("--role"),
                                      c.master ? QStringLiteral("Master") : QStringLiteral("Ext"),
                                      QStringLiteral("--type"), QString::number(c.type)});
        ASSERT_EQ(poll.exitCode, 0) << poll.errors.toStdString();
        expected[i] = poll.output.chopped(1).replace(u'\n', QStringLiteral("\r\n"));
    }
    EXPECT_EQ(expected[0], QStringLiteral("7.00 pH     18.0  °C"));

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<app::Application> program = startMeasuring(dialogs, dir.path(), sim.linkPath(), kChannels);
    QPointer<measure::F_Mesure> window = program->measurementWindow();
    ASSERT_TRUE(window);
    LabelCheck labels(expected);
    waitFor([&] { return labels.allValues(*window); }, 8000);
    ASSERT_TRUE(labels.allValues(*window)) << window->valueText(0).toStdString();

    // From now on every label is checked each time the cycle writes it, after every cycle, and
    // every few milliseconds while the program waits for replies.
    QObject::connect(window, &measure::F_Mesure::valueShown, window, [&](int i) { labels.checkWritten(*window, i); });
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { labels.checkAll(*window); });
    sampler.start(3);

    FaultDraw draw(kSeed);
    bool faulting = true;
    int cycles = 0;
    int cyclesAfterFaults = -1;
    qsizetype faultsLogged = 0;
    QTimer recreation; // the line goes away at a random moment, mostly while a reply is awaited
    recreation.setSingleShot(true);
    QObject::connect(&recreation, &QTimer::timeout, [&] { sim.recreateLine(); });
    QTimer drive;
    QObject::connect(&drive, &QTimer::timeout, window, [&] { window->Minuterie1_Timer(); });

    QObject::connect(window, &measure::F_Mesure::cycleCompleted, window, [&](qint64) {
        labels.checkAll(*window);
        ++cycles;
        if (!faulting) {
            ++cyclesAfterFaults;
            return;
        }
        if (cycles % kCyclesPerDraw != 0)
            return;
        const qsizetype before = faultsLogged;
        faultsLogged = readLog(sim.faultLogPath()).size();
        if (faultsLogged / 250 > before / 250)
            std::printf("%lld faults after %lld s\n", static_cast<long long>(faultsLogged), runTime.elapsed() / 1000);
        if (faultsLogged >= kFaultsWanted) {
            // The faults stop; the program goes back to its one-second ticks.
            faulting = false;
            recreation.stop();
            sim.reconfigure(cleanStations());
            drive.stop();
            cyclesAfterFaults = 0;
            window->Minuterie1().start(1000);
            return;
        }
        QStringList stations;
        for (const Block& b : kBlocks)
            stations << draw.stationLine(b);
        sim.reconfigure(stations);
        if (!recreation.isActive() && draw.chance(static_cast<double>(kCyclesPerDraw) / kCyclesPerLineRecreation))
            recreation.start(draw.between(0, 400));
    });
    window->Minuterie1().stop();
    drive.start(kTickMs);

    waitFor([&] { return !faulting; }, 480000);
    ASSERT_FALSE(faulting) << "only " << faultsLogged << " faults in " << runTime.elapsed() / 1000 << " s";
    const qint64 faultSeconds = runTime.elapsed() / 1000;
    // After the faults every channel shows its value again within two cycles.
    waitFor([&] { return labels.allValues(*window) && cyclesAfterFaults >= 1; }, 10000);
    EXPECT_TRUE(labels.allValues(*window));
    EXPECT_LE(cyclesAfterFaults, 2);
    sampler.stop();

    const QList<LogLine> faults = readLog(sim.faultLogPath());
    std::map<QString, int> byKind;
    for (const LogLine& fault : faults)
        ++byKind[kindOf(fault)];
    const LateReplies late = analyseLateReplies(faults, readLog(sim.requestLogPath()));

    report("faults_injected", faults.size());
    for (const auto& [kind, count] : byKind)
        report(("faults_" + kind.toStdString()).c_str(), count);
    report("late_replies_arriving_after_the_next_request", late.afterNextRequest);
    report("late_replies_waited_for_before_the_same_station", late.sameStationWaited);
    report("cycles", cycles);
    report("labels_sampled", labels.sampled);
    report("wrong_texts", labels.wrong);
    report("texts_written", labels.written);
    report("wrong_texts_written", labels.wrongWritten);
    report("port_messages", dialogs.boxes.size());
    report("seconds_of_faults", faultSeconds);
    report("cycles_to_recover", cyclesAfterFaults);

    EXPECT_GE(faults.size(), kFaultsWanted);
    EXPECT_EQ(labels.wrong, 0) << labels.wrongWritten << " wrong texts written, seen as:\n"
                               << labels.examples.join(u'\n').toStdString();
    for (const char* kind : {"silent", "late", "badcrc", "truncate", "exception", "noise", "wrongaddr", "recreated"})
        EXPECT_GE(byKind[QString::fromLatin1(kind)], 3) << kind;
    EXPECT_GE(late.afterNextRequest, 1);
    // Each time the line went away the user was told once, naming the port.
    EXPECT_GE(dialogs.boxes.size(), 1);
    EXPECT_LE(dialogs.boxes.size(), byKind[QStringLiteral("recreated")]);
    for (const ScriptedDialogs::Box& box : dialogs.boxes)
        EXPECT_TRUE(box.text.contains(QStringLiteral("COM1"))) << box.text.toStdString();
    program.reset();
    qunsetenv("ZENTLOG_COM1");
}
