#include "publish/MqttSettings.h"

#include "common/IniFiles.h"
#include "common/IniSections.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <algorithm>

namespace publish {

namespace {

// A password is one short line; a file larger than this is not a password file.
constexpr qint64 kMaxPasswordFileBytes = 4096;

QString settingsPath(const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(kSettingsFileName));
}

} // namespace

MqttSettings MqttSettings::load(const QString& directory)
{
    return load(common::IniFile::inDirectory(directory));
}

MqttSettings MqttSettings::load(const common::IniFile& file)
{
    MqttSettings settings;
    common::IniSection read = file.section(QStringLiteral("mqtt"));
    const MqttSettings defaults;

    if (const auto enabled = read.boolean(QStringLiteral("enabled"), QStringLiteral("false")))
        settings.enabled = *enabled;
    if (const auto value = read.text(QStringLiteral("host"), defaults.host)) {
        const QString host = value->trimmed();
        if (host.isEmpty())
            read.bad(QStringLiteral("host"), *value, QStringLiteral("names no host"), defaults.host);
        else if (std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.isSpace(); }))
            read.bad(QStringLiteral("host"), *value, QStringLiteral("holds a space"), defaults.host);
        else
            settings.host = host;
    }
    if (const auto value = read.text(QStringLiteral("port"), QStringLiteral("the default port"))) {
        if (value->trimmed().isEmpty())
            settings.port = 0;
        else if (const auto port = common::iniInt(*value, 0, 65535))
            settings.port = *port;
        else
            read.bad(QStringLiteral("port"), *value, QStringLiteral("is not a port number from 1 to 65535"),
                     QStringLiteral("the default port"));
    }
    if (const auto value = read.text(QStringLiteral("tls"), QStringLiteral("TLS with a CA file only"))) {
        if (value->trimmed().isEmpty())
            settings.tls.reset();
        else if (const auto tls = common::iniBool(*value))
            settings.tls = *tls;
        else
            read.bad(QStringLiteral("tls"), *value, QStringLiteral("is neither true nor false"),
                     QStringLiteral("TLS with a CA file only"));
    }
    if (const auto value = read.text(QStringLiteral("ca_file"), QStringLiteral("none")))
        settings.caFile = value->trimmed();
    if (const auto value = read.text(QStringLiteral("username"), QStringLiteral("none")))
        settings.username = *value;
    if (const auto value = read.text(QStringLiteral("password_file"), QStringLiteral("none")))
        settings.passwordFile = value->trimmed();
    if (const auto value = read.text(QStringLiteral("site"), QStringLiteral("the host name")))
        settings.site = value->trimmed();
    if (const auto qos = read.integer(QStringLiteral("qos"), 0, 2, QStringLiteral("is not 0, 1 or 2"), QStringLiteral("1")))
        settings.qos = *qos;
    if (const auto value = read.text(QStringLiteral("format"), QStringLiteral("json"))) {
        const QString format = value->trimmed().toLower();
        if (format == u"json")
            settings.format = Format::Json;
        else if (format == u"sparkplug")
            settings.format = Format::Sparkplug;
        else
            read.bad(QStringLiteral("format"), *value, QStringLiteral("is neither json nor sparkplug"),
                     QStringLiteral("json"));
    }
    settings.problem = read.report(QStringLiteral("publishing uses its defaults"));
    return settings;
}

QString MqttSettings::save(const QString& directory) const
{
    auto set = [](const char* key, const QString& value) {
        return common::IniChange{QLatin1String(key), value};
    };
    const QString boolean[] = {QStringLiteral("false"), QStringLiteral("true")};
    // Unset values are written empty rather than left out, so that a user who opens the file
    // sees every option there is.
    const QList<common::IniChange> changes{
        set("enabled", boolean[enabled ? 1 : 0]),
        set("host", host.trimmed()),
        set("port", port > 0 ? QString::number(port) : QString()),
        set("tls", tls ? boolean[*tls ? 1 : 0] : QString()),
        set("ca_file", caFile),
        set("username", username),
        set("password_file", passwordFile),
        set("site", site),
        set("qos", QString::number(qos)),
        set("format", format == Format::Sparkplug ? QStringLiteral("sparkplug") : QStringLiteral("json")),
    };
    return common::saveIniSection(settingsPath(directory), QStringLiteral("mqtt"), changes, common::kMaxIniBytes);
}

QString MqttSettings::effectiveSite() const
{
    QString result = site.trimmed();
    if (result.isEmpty())
        result = QSysInfo::machineHostName().trimmed();
    for (QChar& c : result) {
        if (c == u'/' || c == u'+' || c == u'#' || c.category() == QChar::Other_Control)
            c = u'_';
    }
    return result.isEmpty() ? QStringLiteral("zentlog") : result;
}

QString MqttSettings::siteRewriteNote() const
{
    const QString typed = site.trimmed();
    const QString used = effectiveSite();
    if (typed.isEmpty() || typed == used)
        return {};
    return QStringLiteral("The site \"%1\" is published as \"%2\" ('/', '+', '#' and control characters cannot stand "
                          "in an MQTT topic level): it shares its topics with a site named \"%2\".")
        .arg(typed, used);
}

QString MqttSettings::destination() const
{
    // An IPv6 address takes brackets, so that its colons are not read as the port's.
    const QString name = host.contains(u':') ? u'[' + host + u']' : host;
    return name + u':' + QString::number(effectivePort());
}

PasswordFile readPasswordFile(const QString& path)
{
    PasswordFile result;
    if (path.isEmpty())
        return result; // no password file: no password
    // Never opened unless it is a regular file: a pipe at the name would make the open wait.
    const common::FileRead read = common::readSmallFile(path, kMaxPasswordFileBytes);
    switch (read.status) {
    case common::FileRead::Status::Ok:
        break;
    case common::FileRead::Status::Missing:
        result.problem = QStringLiteral("The password file \"%1\" does not exist.").arg(path);
        return result;
    case common::FileRead::Status::NotRegular:
        result.problem = QStringLiteral("The password file \"%1\" is not a regular file.").arg(path);
        return result;
    case common::FileRead::Status::TooLarge:
        result.problem = QStringLiteral("The password file \"%1\" is larger than %2 bytes: it holds no password alone.")
                             .arg(path)
                             .arg(kMaxPasswordFileBytes);
        return result;
    case common::FileRead::Status::Unreadable:
        result.problem = QStringLiteral("The password file \"%1\" cannot be read: %2.").arg(path, read.error);
        return result;
    }
    const qsizetype end = read.bytes.indexOf('\n');
    QByteArray line = end < 0 ? read.bytes : read.bytes.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    result.password = line;
#ifndef Q_OS_WIN
    // Windows has no such permission bits; there the folder's access rules decide.
    if (QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther))
        result.warning = QStringLiteral("The password file \"%1\" can be read by other users of this computer; "
                                        "it should be readable by its owner only (chmod 600).")
                             .arg(path);
#endif
    return result;
}

} // namespace publish
