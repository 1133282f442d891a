#include "serial/PortDevices.h"

#include "common/SafeFiles.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSerialPortInfo>
#include <QSettings>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace serial {

namespace {

// "zentlog.ini" holds a few options; anything larger is no file of ours.
constexpr qint64 kMaxSettingsBytes = 1024 * 1024;

QString settingsPath(const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(kPortsFileName));
}

QString portKey(int port)
{
    return QStringLiteral("ports/COM%1").arg(port);
}

// A value as QSettings reads it back from an INI file: as it is when it holds nothing that
// QSettings gives a meaning to, else in quotes with its backslashes and quotes escaped (udev
// writes a space in a by-id name as "\x20", which QSettings would otherwise turn into a space).
QByteArray iniValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    bool plain = !utf8.isEmpty();
    for (const char c : utf8) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
              || QByteArrayView("/_.-+:~").contains(c)))
            plain = false;
    }
    if (plain)
        return utf8;
    QByteArray quoted = "\"";
    for (const char c : utf8) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// The file's text with the keys COM1..COM4 of [ports] replaced where they stand (or added to
// the first [ports] section, or to a new one at the end). Every other line stays as the user
// wrote it, comments and order included, which a rewrite by QSettings would lose.
QByteArray editedText(const QByteArray& original, const std::array<QString, kChoosablePorts>& devices)
{
    const QByteArray eol = original.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QList<QByteArray> lines = original.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QList<QByteArray> out;
    bool inPorts = false;
    bool firstPortsSeen = false;
    bool firstPortsOver = false;
    qsizetype insertAt = -1;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray text = line.trimmed();
        if (text.startsWith('[') && text.endsWith(']')) {
            if (inPorts)
                firstPortsOver = true;
            inPorts = text.mid(1, text.size() - 2).trimmed() == "ports";
            firstPortsSeen = firstPortsSeen || inPorts;
        } else if (inPorts) {
            const QByteArray key = text.left(text.indexOf('=')).trimmed();
            if (text.contains('=') && key.size() == 4 && key.startsWith("COM") && key[3] >= '1'
                && key[3] <= '0' + kChoosablePorts)
                continue;
        }
        out.append(line);
        if (inPorts && !firstPortsOver && !text.isEmpty())
            insertAt = out.size();
    }
    QList<QByteArray> keys;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QString& device = devices[static_cast<size_t>(port - 1)];
        if (!device.isEmpty())
            keys.append("COM" + QByteArray::number(port) + '=' + iniValue(device));
    }
    if (insertAt >= 0) {
        for (qsizetype k = 0; k < keys.size(); ++k)
            out.insert(insertAt + k, keys[k]);
    } else if (!keys.isEmpty()) {
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out.append(QByteArray());
        out.append("[ports]");
        out.append(keys);
    }
    return out.isEmpty() ? QByteArray() : out.join(eol) + eol;
}

// Every key and value of an INI file as QSettings reads it.
QMap<QString, QVariant> iniContent(const QString& path)
{
    QMap<QString, QVariant> content;
    const QSettings file(path, QSettings::IniFormat);
    for (const QString& key : file.allKeys())
        content.insert(key, file.value(key));
    return content;
}

PortChoices g_chosen; // see useChosenDevices

} // namespace

PortChoices PortChoices::load(const QString& directory)
{
    PortChoices choices;
    const QString path = settingsPath(directory);
    if (common::entryKind(path) == common::EntryKind::Missing)
        return choices;
    // A pipe would hold QSettings up for ever, a directory reads as nothing: both are said.
    if (!QFileInfo(path).isFile()) {
        choices.problem = QStringLiteral("\"%1\" is not a regular file; the ports use their default devices.").arg(path);
        return choices;
    }
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        choices.problem = QStringLiteral("\"%1\" cannot be read; the ports use their default devices.").arg(path);
        return choices;
    }
    QStringList problems;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QVariant value = file.value(portKey(port));
        if (!value.isValid())
            continue;
        // An unquoted comma makes QSettings split the value into a list: no device name has one.
        if (value.userType() == QMetaType::QStringList) {
            problems << QStringLiteral("[ports] COM%1=%2 is not one device (the default is used)")
                            .arg(port)
                            .arg(value.toStringList().join(QStringLiteral(", ")));
            continue;
        }
        const QString device = value.toString().trimmed();
        if (device.isEmpty())
            continue;
        if (const QString why = unusableDevice(device); !why.isEmpty()) {
            problems << QStringLiteral("[ports] COM%1=%2 %3 (the default is used)").arg(port).arg(device, why);
            continue;
        }
        choices.devices[static_cast<size_t>(port - 1)] = device;
    }
    if (!problems.isEmpty())
        choices.problem = QStringLiteral("In \"%1\": %2.").arg(path, problems.join(QStringLiteral("; ")));
    return choices;
}

QString PortChoices::save(const QString& directory) const
{
    const QString path = settingsPath(directory);
    const common::EntryKind kind = common::entryKind(path);
    if (kind != common::EntryKind::Missing && kind != common::EntryKind::Regular)
        return QStringLiteral("\"%1\" is %2; it is not written through").arg(path, common::entryKindText(kind));
    QByteArray bytes;
    if (kind == common::EntryKind::Regular) {
        const common::FileRead read = common::readSmallFile(path, kMaxSettingsBytes);
        if (read.status != common::FileRead::Status::Ok)
            return QStringLiteral("\"%1\" cannot be read (%2); it is left as it is").arg(path, read.error);
        bytes = read.bytes;
    }
    // QSettings writes its file in place, and a full disk can leave it cut short. So it edits a
    // copy in a folder of its own, and the result replaces the file in one rename.
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        return QStringLiteral("no temporary folder for editing \"%1\": %2").arg(path, scratch.errorString());
    const QString copy = scratch.filePath(QLatin1String(kPortsFileName));
    if (const QString error = common::saveAtomically(copy, bytes); !error.isEmpty())
        return QStringLiteral("\"%1\" cannot be copied for editing: %2").arg(path, error);
    {
        const QSettings readable(copy, QSettings::IniFormat);
        if (readable.status() != QSettings::NoError)
            return QStringLiteral("\"%1\" cannot be read as settings; it is left as it is").arg(path);
    }
    // The user's text edited in place, when QSettings reads from it exactly what it would have
    // written; else (a layout the edit does not foresee) QSettings rewrites the file itself.
    QMap<QString, QVariant> expected = iniContent(copy);
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QString& device = devices[static_cast<size_t>(port - 1)];
        if (device.isEmpty())
            expected.remove(portKey(port));
        else
            expected.insert(portKey(port), device);
    }
    const QString inPlace = scratch.filePath(QStringLiteral("edited.ini"));
    if (const QString error = common::saveAtomically(inPlace, editedText(bytes, devices)); !error.isEmpty())
        return QStringLiteral("the new settings for \"%1\" could not be written: %2").arg(path, error);
    if (iniContent(inPlace) != expected) {
        QSettings edited(copy, QSettings::IniFormat);
        for (int port = 1; port <= kChoosablePorts; ++port) {
            const QString& device = devices[static_cast<size_t>(port - 1)];
            if (device.isEmpty())
                edited.remove(portKey(port));
            else
                edited.setValue(portKey(port), device);
        }
        edited.sync();
        if (edited.status() != QSettings::NoError)
            return QStringLiteral("the new settings for \"%1\" could not be written").arg(path);
    } else if (!QFile::remove(copy) || !QFile::rename(inPlace, copy)) {
        return QStringLiteral("the new settings for \"%1\" could not be written").arg(path);
    }
    const common::FileRead result = common::readSmallFile(copy, kMaxSettingsBytes);
    if (result.status != common::FileRead::Status::Ok)
        return QStringLiteral("the new settings for \"%1\" cannot be read back: %2").arg(path, result.error);
    if (const QString error = common::saveAtomically(path, result.bytes); !error.isEmpty())
        return QStringLiteral("\"%1\" could not be saved: %2").arg(path, error);
    return {};
}

QString unusableDevice(const QString& device)
{
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("holds a control character");
    }
#ifdef Q_OS_UNIX
    if (!device.startsWith(u'/'))
        return QStringLiteral("is not a full path (it must begin with /)");
#endif
    return {};
}

QList<PortDescription> systemSerialPorts()
{
    QList<PortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.systemLocation(), info.description(), info.manufacturer(),
                      info.serialNumber()});
    return ports;
}

void useChosenDevices(const PortChoices& choices)
{
    g_chosen = choices;
}

const PortChoices& chosenDevices()
{
    return g_chosen;
}

QString defaultDevice(int port)
{
    if (port < 1 || port > kChoosablePorts)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString environmentVariable(int port)
{
    return QStringLiteral("ZENTLOG_COM%1").arg(port);
}

QString environmentDevice(int port)
{
    if (port < 1 || port > kChoosablePorts)
        return {};
    return qEnvironmentVariable(environmentVariable(port).toLatin1().constData());
}

DeviceCheck checkDevice(const QString& path)
{
    DeviceCheck check;
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return check; // missing, or a link whose device is gone: an adapter unplugged
    if (S_ISCHR(info.st_mode)) {
        check.kind = DeviceKind::CharacterDevice;
        return check;
    }
    check.kind = DeviceKind::NotADevice;
    if (S_ISREG(info.st_mode))
        check.what = QStringLiteral("a regular file");
    else if (S_ISDIR(info.st_mode))
        check.what = QStringLiteral("a directory");
    else if (S_ISFIFO(info.st_mode))
        check.what = QStringLiteral("a pipe");
    else if (S_ISSOCK(info.st_mode))
        check.what = QStringLiteral("a socket");
    else
        check.what = QStringLiteral("a block device");
#else
    const QFileInfo info(path);
    if (info.isDir()) {
        check.kind = DeviceKind::NotADevice;
        check.what = QStringLiteral("a directory");
    } else if (info.isFile()) {
        check.kind = DeviceKind::NotADevice;
        check.what = QStringLiteral("a regular file");
    } else if (!path.isEmpty()) {
        check.kind = DeviceKind::CharacterDevice; // "COM3" is no file; opening tells
    }
#endif
    return check;
}

QHash<QString, QString> stableNames(const QString& byIdDirectory)
{
    QHash<QString, QString> names;
    const QDir directory(byIdDirectory);
    for (const QFileInfo& link : directory.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!link.isSymLink())
            continue;
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

} // namespace serial
