#include "ProgramOnSim.h"

#include "TestFiles.h"

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/QtSerialControl.h"

#include <QDir>

namespace testing_support {

QByteArray configFor(const std::array<Channel, 4>& channels)
{
    QByteArray text;
    QByteArray masters;
    QByteArray exts;
    for (const Channel& c : channels) {
        text += QByteArray::number(c.selected) + "," + QByteArray::number(c.type) + "\r\n\"" + c.address + "\",\"tag\"\r\n";
        masters += QByteArray(masters.isEmpty() ? "" : ",") + (c.master ? "#TRUE#" : "#FALSE#");
        exts += QByteArray(exts.isEmpty() ? "" : ",") + (c.master ? "#FALSE#" : "#TRUE#");
    }
    return text + masters + "\r\n" + exts + "\r\n";
}

std::unique_ptr<app::Application> startMeasuring(ui::Dialogs& dialogs, const QString& directory,
                                                 const QString& line, const std::array<Channel, 4>& channels)
{
    qputenv("ZENTLOG_COM1", line.toLocal8Bit());
    const QDir dir(directory);
    writeFile(dir.filePath(QStringLiteral("config.txt")), configFor(channels));
    writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
    auto program = std::make_unique<app::Application>(dialogs, std::make_unique<serial::QtSerialControl>(), directory);
    program->mainWindow().Form_Load();
    program->mainWindow().Mesure_Click();
    return program;
}

} // namespace testing_support
