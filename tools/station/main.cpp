// zentlog-station: the measurement of one working directory without a display, for a computer
// that measures unattended (a systemd service; see the manual page).

#include "Station.h"
#include "UnixSignals.h"

#include "app/WorkingDirectory.h"
#include "common/MeasurementLock.h"
#include "zentlog/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 3;
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication qtApp(argc, argv);
    // The measurement lock names its holder by this name.
    QCoreApplication::setApplicationName(QString::fromLatin1(common::kStationProgramName));
    QCoreApplication::setApplicationVersion(QLatin1String(zentlog::kBuildVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures the inputs of config.txt without a display: records the history, writes the frame\n"
        "trace and publishes to MQTT as zentlog.ini asks. SIGTERM or SIGINT ends it, SIGHUP reloads\n"
        "config.txt, PortCom.dat and zentlog.ini (a change on disk is applied at the next cycle too)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption workdirOption(QStringLiteral("workdir"),
                                           QStringLiteral("Work in DIR (an existing directory); also ZENTLOG_WORKDIR."),
                                           QStringLiteral("DIR"));
    parser.addOption(workdirOption);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "zentlog-station: %s\n", qPrintable(parser.errorText()));
        return kExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zentlog-station: unexpected argument \"%s\"\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return kExitUsage;
    }

    const app::WorkingDirectory workdir = app::enterWorkingDirectory(parser.value(workdirOption));
    const QString& error = workdir.error;
    if (!error.isEmpty()) {
        std::fprintf(stderr, "zentlog-station: %s\n", qPrintable(error));
        return kExitUsage;
    }

    // Signals are taken from here on: a SIGTERM during the start ends the station cleanly.
    station::UnixSignals unixSignals;
    station::Station station(workdir.path);
    QObject::connect(&unixSignals, &station::UnixSignals::terminate, &station, &station::Station::shutdown);
    QObject::connect(&unixSignals, &station::UnixSignals::reload, &station, [&station] { station.reload(); });
    QObject::connect(&station, &station::Station::finished, &qtApp, &QCoreApplication::quit, Qt::QueuedConnection);
    QString refusal;
    if (!station.start(&refusal)) {
        std::fprintf(stderr, "zentlog-station: %s\n", qPrintable(refusal));
        return kExitRefused;
    }
    return QCoreApplication::exec();
}
