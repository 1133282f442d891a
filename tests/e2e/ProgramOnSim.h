#pragma once
// The real program (application object, windows offscreen, QSerialPort) measuring on COM1, which
// points at a station simulator's pseudo-terminal.

#include <QByteArray>
#include <QString>

#include <array>
#include <memory>

namespace app {
class Application;
}
namespace ui {
class Dialogs;
}

namespace testing_support {

// One channel of "config.txt".
struct Channel {
    int selected;
    int type;
    const char* address;
    bool master;
};

// The text of "config.txt" for four channels.
QByteArray configFor(const std::array<Channel, 4>& channels);

// Writes "config.txt" with `channels` and "PortCom.dat" (COM1, 9600 baud) into `directory`, points
// COM1 at `line`, and starts the program's measurement there. The caller unsets ZENTLOG_COM1.
std::unique_ptr<app::Application> startMeasuring(ui::Dialogs& dialogs, const QString& directory,
                                                 const QString& line, const std::array<Channel, 4>& channels);

} // namespace testing_support
