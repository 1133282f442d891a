// ZENTLOG: data acquisition beside water-quality measuring stations.

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/QtSerialControl.h"
#include "ui/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZENTLOG"));
    QApplication::setApplicationVersion(QStringLiteral("2.19"));

    ui::QtDialogs dialogs;
    app::Application application(dialogs, std::make_unique<serial::QtSerialControl>());
    application.setProbePortFactory([] { return std::make_unique<serial::QtSerialControl>(); });
    application.mainWindow().Form_Load();
    return QApplication::exec();
}
