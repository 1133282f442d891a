// zentlog-poll: reads one station from the command line through the program's own readers and
// prints the value text the measurement window shows.

#include "PollOptions.h"

#include "measure/StationReaders.h"
#include "measure/ValueText.h"
#include "serial/QtSerialControl.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

enum ExitCode { kReading = 0, kOutOfOrder = 1, kFailure = 2 };

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

    QString error;
    const auto options = poll::parsePollOptions(app.arguments().mid(1), error);
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

    measure::StationValues values;
    int status = kReading;
    for (int reading = 0;; ++reading) {
        if (reading > 0)
            pause(options->intervalMs);
        const bool ok = measure::ReadStation(options->type, port, options->address, options->startRegister, values);
        if (!port.PortOpen()) {
            err << "zentlog-poll: " << portName << " stopped working: " << port.errorString() << "\n";
            return kFailure;
        }
        const QString text = ok ? measure::FormatChannelValue(options->type, values) : measure::kOutOfOrder;
        for (const QString& line : text.split(QStringLiteral("\r\n")))
            out << line << "\n";
        out.flush();
        status = ok ? kReading : kOutOfOrder;
        if (!options->watch || (options->count > 0 && reading + 1 >= options->count))
            break;
    }
    return status;
}
