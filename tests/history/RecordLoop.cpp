// Records cycles of four fake readings into "history.sqlite" in the given folder as fast as it
// can, and prints the number of every cycle once its transaction is committed. The kill test
// ends it with SIGKILL at random moments.
//   zentlog-record-loop FOLDER FIRST_CYCLE

#include "history/Recorder.h"

#include "HistoryFiles.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zentlog-record-loop FOLDER FIRST_CYCLE\n");
        return 2;
    }
    history::Recorder::Options options;
    options.directory = QString::fromLocal8Bit(argv[1]);
    options.retentionDays = 100'000'000; // the fake time stamps are small numbers
    options.retryIntervalMs = 0;
    options.report = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
    history::Recorder recorder(options);
    for (qint64 cycle = QByteArray(argv[2]).toLongLong();; ++cycle) {
        // The cycle's number is in its time stamps: cycle * 10 + channel.
        if (recorder.recordCycle(history_test::cycleReadings(cycle, 4, cycle * 10))) {
            std::printf("%lld\n", static_cast<long long>(cycle));
            std::fflush(stdout);
        }
    }
}
