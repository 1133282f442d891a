#include "serial/PortDevices.h"

#include "common/IniFiles.h"
#include "common/IniSections.h"
#include "serial/NetworkDevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace serial {

namespace {

QString settingsPath(const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(kPortsFileName));
}

PortChoices g_chosen; // see useChosenDevices

} // namespace

PortChoices PortChoices::load(const QString& directory)
{
    return load(common::IniFile::inDirectory(directory));
}

PortChoices PortChoices::load(const common::IniFile& file)
{
    PortChoices choices;
    common::IniSection section = file.section(QStringLiteral("ports"));
    const QString useDefault = QStringLiteral("the default");
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QString key = QStringLiteral("COM%1").arg(port);
        // No device name holds a comma, at which QSettings splits a value.
        const auto value = section.text(key, useDefault, QStringLiteral("is not one device"));
        const QString device = value.value_or(QString()).trimmed();
        if (device.isEmpty())
            continue;
        if (const QString why = unusableDevice(device); !why.isEmpty()) {
            section.bad(key, device, why, useDefault);
            continue;
        }
        choices.devices[static_cast<size_t>(port - 1)] = device;
    }
    choices.problem = section.report(QStringLiteral("the ports use their default devices"));
    return choices;
}

QString PortChoices::save(const QString& directory) const
{
    QList<common::IniChange> changes;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QString& device = devices[static_cast<size_t>(port - 1)];
        changes.append({QStringLiteral("COM%1").arg(port), device.isEmpty() ? std::nullopt : std::optional(device)});
    }
    return common::saveIniSection(settingsPath(directory), QStringLiteral("ports"), changes, common::kMaxIniBytes);
}

QString unusableDevice(const QString& device)
{
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("holds a control character");
    }
    if (isNetworkDevice(device)) {
        QString problem;
        return parseNetworkDevice(device, &problem) ? QString() : problem;
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
