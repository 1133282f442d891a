#include "publish/MqttSettings.h"

#include "common/IniFiles.h"
#include "common/SafeFiles.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>

#include <algorithm>

namespace publish {

namespace {

// "zentlog.ini" holds a few options; anything larger is no file of ours.
constexpr qint64 kMaxSettingsBytes = 1024 * 1024;
// A password is one short line; a file larger than this is not a password file.
constexpr qint64 kMaxPasswordFileBytes = 4096;

QString settingsPath(const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(kSettingsFileName));
}

std::optional<bool> parseBool(const QString& value)
{
    const QString text = value.trimmed().toLower();
    if (text == u"true" || text == u"1" || text == u"yes" || text == u"on")
        return true;
    if (text == u"false" || text == u"0" || text == u"no" || text == u"off")
        return false;
    return std::nullopt;
}

std::optional<int> parseInt(const QString& value, int low, int high)
{
    bool ok = false;
    const int number = value.trimmed().toInt(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return number;
}

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// Reads the keys of [mqtt] one by one; what cannot be used is noted and left at its default.
class Reader {
public:
    explicit Reader(const QSettings& file)
        : file_(file)
    {
    }

    // The text of a key, or nothing when it is absent or unusable.
    std::optional<QString> text(const char* key, const QString& defaultText)
    {
        const QVariant value = file_.value(QStringLiteral("mqtt/") + QLatin1String(key));
        if (!value.isValid())
            return std::nullopt;
        // An unquoted comma makes QSettings split the value into a list.
        if (value.userType() == QMetaType::QStringList) {
            problems << QStringLiteral("[mqtt] %1=%2 holds a comma; put the value in double quotes (%3 is used)")
                            .arg(QLatin1String(key), value.toStringList().join(QStringLiteral(", ")), defaultText);
            return std::nullopt;
        }
        const QString result = value.toString();
        if (hasControlCharacter(result)) {
            problems << QStringLiteral("[mqtt] %1 holds a control character (%2 is used)").arg(QLatin1String(key), defaultText);
            return std::nullopt;
        }
        return result;
    }

    void bad(const char* key, const QString& value, const QString& what, const QString& defaultText)
    {
        problems << QStringLiteral("[mqtt] %1=%2 %3 (%4 is used)").arg(QLatin1String(key), value, what, defaultText);
    }

    QStringList problems;

private:
    const QSettings& file_;
};

} // namespace

MqttSettings MqttSettings::load(const QString& directory)
{
    MqttSettings settings;
    const QString path = settingsPath(directory);
    if (common::entryKind(path) == common::EntryKind::Missing)
        return settings;
    // A pipe would hold QSettings up for ever, a directory reads as nothing: both are said.
    const QFileInfo info(path);
    if (!info.isFile()) {
        settings.problem = QStringLiteral("\"%1\" is not a regular file; publishing uses its defaults.").arg(path);
        return settings;
    }
    if (info.size() > kMaxSettingsBytes) {
        settings.problem = QStringLiteral("\"%1\" is larger than %2 bytes; publishing uses its defaults.")
                               .arg(path)
                               .arg(kMaxSettingsBytes);
        return settings;
    }
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        settings.problem = QStringLiteral("\"%1\" cannot be read; publishing uses its defaults.").arg(path);
        return settings;
    }
    Reader read(file);
    const MqttSettings defaults;

    if (const auto value = read.text("enabled", QStringLiteral("false"))) {
        if (const auto enabled = parseBool(*value))
            settings.enabled = *enabled;
        else
            read.bad("enabled", *value, QStringLiteral("is neither true nor false"), QStringLiteral("false"));
    }
    if (const auto value = read.text("host", defaults.host)) {
        const QString host = value->trimmed();
        if (host.isEmpty())
            read.bad("host", *value, QStringLiteral("names no host"), defaults.host);
        else if (std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.isSpace(); }))
            read.bad("host", *value, QStringLiteral("holds a space"), defaults.host);
        else
            settings.host = host;
    }
    if (const auto value = read.text("port", QStringLiteral("the default port"))) {
        if (value->trimmed().isEmpty())
            settings.port = 0;
        else if (const auto port = parseInt(*value, 0, 65535))
            settings.port = *port;
        else
            read.bad("port", *value, QStringLiteral("is not a port number from 1 to 65535"),
                     QStringLiteral("the default port"));
    }
    if (const auto value = read.text("tls", QStringLiteral("TLS with a CA file only"))) {
        if (value->trimmed().isEmpty())
            settings.tls.reset();
        else if (const auto tls = parseBool(*value))
            settings.tls = *tls;
        else
            read.bad("tls", *value, QStringLiteral("is neither true nor false"), QStringLiteral("TLS with a CA file only"));
    }
    if (const auto value = read.text("ca_file", QStringLiteral("none")))
        settings.caFile = value->trimmed();
    if (const auto value = read.text("username", QStringLiteral("none")))
        settings.username = *value;
    if (const auto value = read.text("password_file", QStringLiteral("none")))
        settings.passwordFile = value->trimmed();
    if (const auto value = read.text("site", QStringLiteral("the host name")))
        settings.site = value->trimmed();
    if (const auto value = read.text("qos", QStringLiteral("1"))) {
        if (const auto qos = parseInt(*value, 0, 2))
            settings.qos = *qos;
        else
            read.bad("qos", *value, QStringLiteral("is not 0, 1 or 2"), QStringLiteral("1"));
    }
    if (const auto value = read.text("format", QStringLiteral("json"))) {
        const QString format = value->trimmed().toLower();
        if (format == u"json")
            settings.format = Format::Json;
        else if (format == u"sparkplug")
            settings.format = Format::Sparkplug;
        else
            read.bad("format", *value, QStringLiteral("is neither json nor sparkplug"), QStringLiteral("json"));
    }
    if (!read.problems.isEmpty())
        settings.problem = QStringLiteral("In \"%1\": %2.").arg(path, read.problems.join(QStringLiteral("; ")));
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
    return common::saveIniSection(settingsPath(directory), QStringLiteral("mqtt"), changes, kMaxSettingsBytes);
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
