// zentlog-poll: reads one station from the command line through the program's own readers and
// prints the value text the measurement window shows.

#include "PollOptions.h"

#include "diagnostics/FrameTrace.h"
#include "diagnostics/LineCounters.h"
#include "measure/StationReaders.h"
#include "measure/ValueText.h"
#include "serial/LateReplies.h"
#include "serial/QtSerialControl.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

enum ExitCode { kReading = 0, kOutOfOrder = 1, kFailure = 2 };

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int /*signal*/)
{
    stopRequested = 1;
}

void pause(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    // --help anywhere answers with the usage and nothing else, as the other tools do.
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out << poll::kPollUsage;
        return 0;
    }

    QString error;
    const auto options = poll::parsePollOptions(arguments, error);
    if (!options) {
        err << "zentlog-poll: " << error << "\n" << poll::kPollUsage;
        return kFailure;
    }
    int16_t portNumber = options->port;
    if (!options->device.isEmpty()) {
        // The port is named by its device: COM1 of this process means it.
        qputenv("ZENTLOG_COM1", options->device.toLocal8Bit());
        portNumber = 1;
    }

    serial::QtSerialControl port;
    port.setCommPort(portNumber);
    port.setInputLen(0);
    // The port's reasons are reasons alone: the port and its device are named here.
    const QString portName = QStringLiteral("COM%1 (%2)").arg(portNumber).arg(port.deviceName());
    if (!port.setSettings(options->settings) || !port.setPortOpen(true)) {
        err << "zentlog-poll: " << portName << " cannot be opened: " << port.errorString() << "\n";
        return kFailure;
    }

    // Ctrl-C or SIGTERM ends the run between two readings, or cuts a wait short; the counters
    // of the readings that ended are printed all the same.
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [] {
        if (stopRequested != 0)
            QCoreApplication::exit(kOutOfOrder);
    });
    stopWatch.start(50);

    measure::StationValues values;
    serial::LateReplies lateReplies;
    diagnostics::FrameTrace trace{QString()}; // only its lines: no file is written
    diagnostics::ChannelCounters counters;
    int status = kReading;
    const auto printStats = [&] {
        if (options->stats)
            out << diagnostics::statsLine(counters) << "\n";
        out.flush();
    };
    for (int reading = 0;; ++reading) {
        if (reading > 0)
            pause(options->intervalMs);
        if (stopRequested != 0)
            break;
        const diagnostics::Exchange exchange = measure::ReadStation(
            options->type, port, options->address, options->startRegister, values, {}, &lateReplies);
        if (stopRequested != 0)
            break; // cut short: neither a reply nor a failure of the station
        if (options->trace)
            err << trace.lines(exchange, QStringLiteral("COM%1").arg(portNumber)) << Qt::flush;
        diagnostics::countVisit(counters, exchange.endedAtMs, exchange.outcome, exchange.replyMs);
        if (!port.PortOpen()) {
            err << "zentlog-poll: " << portName << " stopped working: " << port.errorString() << "\n";
            printStats();
            return kFailure;
        }
        const bool ok = exchange.ok();
        const QString text = ok ? measure::FormatChannelValue(options->type, values) : measure::kOutOfOrder;
        for (const QString& line : text.split(QStringLiteral("\r\n")))
            out << line << "\n";
        out.flush();
        status = ok ? kReading : kOutOfOrder;
        if (!options->watch || (options->count > 0 && reading + 1 >= options->count))
            break;
    }
    printStats();
    return status;
}
