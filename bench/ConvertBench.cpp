// The conversion of a history file of an earlier layout into the compact one, in place, as the
// recorder runs it in its thread: prints the time it takes and the file's size before and after.
//   zentlog-bench-convert FILE

#include "history/LayoutConversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zentlog-bench-convert FILE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const qint64 before = QFileInfo(path).size();
    QElapsedTimer timer;
    timer.start();
    history::ConversionOptions options;
    options.progress = [&](qint64 copied, qint64 all) {
        if (copied % 1000000 < 20000)
            std::fprintf(stderr, "%lld of %lld readings, %.1f s\n", static_cast<long long>(copied),
                         static_cast<long long>(all), double(timer.elapsed()) / 1000.0);
    };
    const QString problem = history::convertLayout(path, options);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "conversion failed: %s\n", qPrintable(problem));
        return 1;
    }
    std::printf("conversion: %.1f s; file %.1f MB before, %.1f MB after\n", double(timer.elapsed()) / 1000.0,
                double(before) / 1e6, double(QFileInfo(path).size()) / 1e6);
    return 0;
}
