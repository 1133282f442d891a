#pragma once
// "PortCom.dat": the stored serial settings, three CR LF lines of numbers
// (port and rate position, parity position, stop-bit position).

#include "common/TextFiles.h"
#include "serial/SerialSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace ui {
class Dialogs;
}

namespace serial {

inline constexpr const char* kPortComFileName = "PortCom.dat";
// The file holds four small numbers; a file larger than this is not one.
inline constexpr qint64 kPortComMaxBytes = 4096;

struct PortComParse {
    SerialSettings settings;  // texts derived
    bool malformed = false;   // the file cannot be read as four numbers: settings are the defaults
    QStringList problems;     // what is wrong, for the user (values out of range are replaced)
};

QByteArray serializePortCom(const SerialSettings& settings);
PortComParse parsePortCom(QByteArrayView bytes);

// Reads "PortCom.dat" from the directory (empty: the working directory) into the settings.
// A missing or malformed file is reported once through the dialogs, and the defaults are used;
// the file itself is not touched. Returns false when the file could not be used as it stands.
bool LoadSerialSettings(SerialSettings& settings, ui::Dialogs& dialogs, const QString& directory = {});

// Reads "PortCom.dat" again while measuring: the settings change only when the file can be read.
common::SettingsReload ReloadSerialSettings(SerialSettings& settings, const QString& directory = {});

// Writes the four positions atomically; a failure is reported and returns false. A "PortCom.dat"
// that cannot be read is first kept as "PortCom.dat.bad", and the user is told so.
bool SaveSerialSettings(const SerialSettings& settings, ui::Dialogs& dialogs, const QString& directory = {});

QString portComPath(const QString& directory);

} // namespace serial
