// ZENTLOG: data acquisition beside water-quality measuring stations.

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/QtSerialControl.h"
#include "ui/QtDialogs.h"
#include "zentlog/Version.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZENTLOG"));
    QApplication::setApplicationVersion(QLatin1String(zentlog::kBuildVersion));

    ui::QtDialogs dialogs;
    app::Application application(dialogs, std::make_unique<serial::QtSerialControl>());
    application.setProbePortFactory([] { return std::make_unique<serial::QtSerialControl>(); });
    application.mainWindow().Form_Load();
    return QApplication::exec();
}
