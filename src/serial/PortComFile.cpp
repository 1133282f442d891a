#include "serial/PortComFile.h"

#include "common/Cp1252.h"
#include "common/Numbers.h"
#include "common/TextFiles.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFileInfo>

#include <charconv>

namespace serial {

namespace {

void appendNumber(QByteArray& out, int16_t value)
{
    // A blank stands before a positive number (a negative one has its minus sign there),
    // and a blank follows every number.
    char digits[8];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    if (value >= 0)
        out.append(' ');
    out.append(digits, end - digits);
    out.append(' ');
}

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
}

struct Range {
    const char* name;
    int16_t low;
    int16_t high;
    int16_t fallback;
};

constexpr Range kRanges[4] = {
    {"port number", 1, 4, 1},
    {"rate position", 0, 2, 0},
    {"parity position", 0, 2, 0},
    {"stop-bit position", 0, 1, 0},
};

// Reads "PortCom.dat" into `settings` when given (the defaults when nothing of it can be used).
common::SettingsLoad readPortComFile(const QString& path, SerialSettings* settings)
{
    if (settings)
        *settings = SerialSettings::defaults();
    return common::loadSettingsFile(path, kPortComMaxBytes, QStringLiteral("holds binary data, not text"),
                                    [settings](QByteArrayView bytes) {
                                        PortComParse parsed = parsePortCom(bytes);
                                        if (settings)
                                            *settings = parsed.settings;
                                        return common::ParsedSettings{parsed.malformed, std::move(parsed.problems)};
                                    });
}

} // namespace

QString portComPath(const QString& directory)
{
    return directory.isEmpty() ? QString::fromLatin1(kPortComFileName)
                               : QDir(directory).filePath(QString::fromLatin1(kPortComFileName));
}

QByteArray serializePortCom(const SerialSettings& settings)
{
    QByteArray out;
    appendNumber(out, settings.portNumber);
    appendNumber(out, settings.rateIndex);
    out.append("\r\n");
    appendNumber(out, settings.parityIndex);
    out.append("\r\n");
    appendNumber(out, settings.stopIndex);
    out.append("\r\n");
    return out;
}

PortComParse parsePortCom(QByteArrayView bytes)
{
    PortComParse result;
    result.settings = SerialSettings::defaults();
    int16_t values[4] = {};
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    for (int field = 0; field < 4; ++field) {
        while (pos < size && isSeparator(bytes[pos]))
            ++pos;
        const qsizetype start = pos;
        while (pos < size && !isSeparator(bytes[pos]))
            ++pos;
        if (start == pos) {
            result.malformed = true;
            result.problems << QStringLiteral("holds %1 number(s) where four are needed").arg(field);
            return result;
        }
        const QByteArrayView text = bytes.sliced(start, pos - start);
        const std::optional<int> number = common::parseWholeNumber<int>(text);
        if (!number) {
            result.malformed = true;
            result.problems << QStringLiteral("holds \"%1\" where the %2 should be a number")
                                   .arg(common::printableExcerpt(text),
                                        QString::fromLatin1(kRanges[field].name));
            return result;
        }
        int value = *number;
        const Range& range = kRanges[field];
        if (value < range.low || value > range.high) {
            result.problems << QStringLiteral("gives %1 as %2 (allowed: %3 to %4); %5 is used instead")
                                   .arg(value)
                                   .arg(QString::fromLatin1(range.name))
                                   .arg(range.low)
                                   .arg(range.high)
                                   .arg(range.fallback);
            value = range.fallback;
        }
        values[field] = static_cast<int16_t>(value);
    }
    result.settings.portNumber = values[0];
    result.settings.rateIndex = values[1];
    result.settings.parityIndex = values[2];
    result.settings.stopIndex = values[3];
    result.settings.deriveTexts();
    return result;
}

bool LoadSerialSettings(SerialSettings& settings, ui::Dialogs& dialogs, const QString& directory)
{
    const common::SettingsLoad load = readPortComFile(portComPath(directory), &settings);
    if (load.problems.isEmpty())
        return true;
    const QString outcome = load.malformed
        ? QStringLiteral("The program goes on with COM1, 9600 baud, no parity and 1 stop bit")
        : QStringLiteral("The program goes on with the replaced values");
    dialogs.message(QStringLiteral("The serial settings file \"%1\" cannot be used as it stands: %2.\n\n"
                                   "%3; the file is left unchanged until you press Validation "
                                   "in the serial interface window.")
                        .arg(QString::fromLatin1(kPortComFileName), load.problems.join(QStringLiteral("; ")), outcome),
                    ui::Icon::Warning);
    return false;
}

common::SettingsReload ReloadSerialSettings(SerialSettings& settings, const QString& directory)
{
    SerialSettings read = settings;
    const common::SettingsLoad load = readPortComFile(portComPath(directory), &read);
    common::SettingsReload reload;
    reload.problem = load.problems.join(QStringLiteral("; "));
    reload.applied = !load.malformed;
    if (reload.applied)
        settings = read;
    return reload;
}

bool SaveSerialSettings(const SerialSettings& settings, ui::Dialogs& dialogs, const QString& directory)
{
    const QString path = portComPath(directory);
    // A file that cannot be read (the one the load replaced by the defaults) is kept beside the
    // new one rather than lost.
    const bool keep = readPortComFile(path, nullptr).keepOnSave();
    const common::SettingsSave save = common::saveSettingsFile(path, serializePortCom(settings), keep);
    if (!save.error.isEmpty()) {
        dialogs.message(QStringLiteral("The serial settings could not be saved to \"%1\": %2.\n\n"
                                       "The previous file, if any, is unchanged.")
                            .arg(QString::fromLatin1(kPortComFileName), save.error),
                        ui::Icon::Critical);
        return false;
    }
    if (!save.keptCopy.isEmpty()) {
        dialogs.message(QStringLiteral("The serial settings have been saved to \"%1\".\n\n"
                                       "The previous file could not be read; it has been kept as \"%2\".")
                            .arg(QString::fromLatin1(kPortComFileName), QFileInfo(save.keptCopy).fileName()),
                        ui::Icon::Information);
    }
    return true;
}

} // namespace serial
