// ZENTLOG: data acquisition beside water-quality measuring stations.

#include "app/Application.h"
#include "app/WorkingDirectory.h"
#include "app/ZENTLOG.h"
#include "serial/QtSerialControl.h"
#include "ui/QtDialogs.h"
#include "zentlog/Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZENTLOG"));
    QApplication::setApplicationVersion(QLatin1String(zentlog::kBuildVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Data acquisition beside water-quality measuring stations.\n"
        "The working directory holds config.txt, PortCom.dat and the program's other files: the\n"
        "current directory when it holds config.txt, otherwise ~/.local/share/zentlog."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption workdirOption(QStringLiteral("workdir"),
                                           QStringLiteral("Work in DIR (an existing directory); also ZENTLOG_WORKDIR."),
                                           QStringLiteral("DIR"));
    parser.addOption(workdirOption);
    const QCommandLineOption measureOption(
        QStringLiteral("measure"),
        QStringLiteral("Start measuring at once, as the menu command Measurement does (for a session's autostart)."));
    parser.addOption(measureOption);
    parser.process(qtApp);

    ui::QtDialogs dialogs;
    const app::WorkingDirectory workdir = app::enterWorkingDirectory(parser.value(workdirOption));
    const QString& error = workdir.error;
    if (!error.isEmpty()) {
        std::fprintf(stderr, "zentlog: %s\n", qPrintable(error));
        dialogs.message(error, ui::Icon::Critical);
        return 2;
    }

    app::Application application(dialogs, std::make_unique<serial::QtSerialControl>());
    application.setProbePortFactory([] { return std::make_unique<serial::QtSerialControl>(); });
    application.mainWindow().Form_Load();
    if (parser.isSet(measureOption))
        QTimer::singleShot(0, &application.mainWindow(), [&application] { application.mainWindow().Mesure_Click(); });
    return QApplication::exec();
}
