// The cost of the line diagnostics per exchange: the per-channel counters alone (the trace off)
// and the counters with the frame trace writing into FOLDER (the trace on), over EXCHANGES
// exchanges of four stations read in turn, four a second: an 8-byte request and its 21-byte
// reply, reply times between 30 and 50 ms, one exchange in a hundred without a reply. Prints the
// CPU time (this process's user + system time, so the kernel's share of the writes counts) per
// exchange and the share of a core that four stations read once a second would cost.
//   zentlog-bench-diagnostics FOLDER [EXCHANGES]

#include "diagnostics/FrameTrace.h"
#include "diagnostics/LineCounters.h"

#include "ProcessCpu.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <vector>

using testing_support::cpuMicroseconds;

namespace {

// The exchanges of four stations, made beforehand so that only the diagnostics are measured.
std::vector<diagnostics::Exchange> exchanges(qint64 count, qint64 startMs)
{
    // Reading 8 registers of block 0 from stations 1 to 4, and a reply with 16 data bytes.
    const QByteArray requests[4] = {QByteArray::fromHex("010300000008440C"), QByteArray::fromHex("020300000008443F"),
                                    QByteArray::fromHex("03030000000845EE"), QByteArray::fromHex("0403000000084459")};
    std::vector<diagnostics::Exchange> list(static_cast<size_t>(count));
    for (qint64 n = 0; n < count; ++n) {
        diagnostics::Exchange& e = list[static_cast<size_t>(n)];
        const int station = static_cast<int>(n % 4);
        e.sentAtMs = startMs + n * 250;
        e.request = requests[station];
        if (n % 100 == 99) {
            e.endedAtMs = e.sentAtMs + 2000;
            e.outcome = diagnostics::Outcome::noReply(2000);
            continue;
        }
        const double replyMs = 30.0 + double(n % 200) / 10.0;
        e.endedAtMs = e.sentAtMs + static_cast<qint64>(replyMs);
        e.received = QByteArray::fromHex("0103100000") + QByteArray::number(n % 10000).rightJustified(4, '0')
            + QByteArray::fromHex("00000075000000000000004bA1B2");
        e.received[0] = static_cast<char>(station + 1);
        e.outcome = diagnostics::Outcome::value();
        e.replyMs = replyMs;
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zentlog-bench-diagnostics FOLDER [EXCHANGES]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const qint64 count = argc > 2 ? QByteArray(argv[2]).toLongLong() : 200000;
    if (count <= 0) {
        std::fprintf(stderr, "EXCHANGES must be a number above 0\n");
        return 2;
    }
    const std::vector<diagnostics::Exchange> list = exchanges(count, QDateTime::currentMSecsSinceEpoch());

    // The trace off: the counters alone.
    diagnostics::LineCounters counters;
    double start = cpuMicroseconds();
    for (qint64 n = 0; n < count; ++n) {
        const diagnostics::Exchange& e = list[static_cast<size_t>(n)];
        counters.recordVisit(static_cast<int>(n % 4), e.endedAtMs, e.outcome, e.replyMs);
    }
    const double off = (cpuMicroseconds() - start) / double(count);

    // The trace on: the counters and the trace, as the measurement does both.
    diagnostics::LineCounters countersToo;
    bool failed = false;
    diagnostics::FrameTrace::Options options;
    options.report = [&failed](const QString& text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        failed = true;
    };
    diagnostics::FrameTrace trace(folder, options);
    const QString port = QStringLiteral("COM1");
    start = cpuMicroseconds();
    for (qint64 n = 0; n < count; ++n) {
        const diagnostics::Exchange& e = list[static_cast<size_t>(n)];
        countersToo.recordVisit(static_cast<int>(n % 4), e.endedAtMs, e.outcome, e.replyMs);
        trace.record(e, port);
    }
    const double on = (cpuMicroseconds() - start) / double(count);
    if (failed)
        return 1;

    qint64 bytes = 0;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("trace-*.log")}, QDir::Files);
    for (const QFileInfo& file : files)
        bytes += file.size();
    // Four stations read once a second: four exchanges a second.
    const auto share = [](double us) { return 4 * us / 1e6 * 100; };
    std::printf("exchanges: %lld, trace: %lld files, %.1f MB (%.0f bytes per exchange)\n",
                static_cast<long long>(count), static_cast<long long>(files.size()), double(bytes) / 1e6,
                double(bytes) / double(count));
    std::printf("CPU per exchange: counters alone (trace off) %.3f us, counters and trace (trace on) %.3f us, "
                "the trace itself %.3f us\n",
                off, on, on - off);
    std::printf("share of a core, four stations read once a second: trace off %.5f %%, trace on %.5f %%\n",
                share(off), share(on));
    return 0;
}
