#include "diagnostics/DiagnosticsSettings.h"

#include "common/SafeFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <optional>

namespace diagnostics {

namespace {

// The words "zentlog.ini" accepts for a yes/no option, in any case.
std::optional<bool> switchValue(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == u"true" || word == u"1" || word == u"yes" || word == u"on")
        return true;
    if (word == u"false" || word == u"0" || word == u"no" || word == u"off")
        return false;
    return std::nullopt;
}

// QSettings splits an unquoted value at its commas ("yes, no" comes back as a list); the message
// shows what was typed.
QString typedText(const QVariant& value)
{
    return value.userType() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(", "))
                                                      : value.toString();
}

} // namespace

DiagnosticsSettings DiagnosticsSettings::load(const QString& directory)
{
    DiagnosticsSettings settings;
    const QString path = QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(kSettingsFileName);
    // QSettings reads an absent file as empty and does not create it; it only writes on a change.
    if (common::entryKind(path) == common::EntryKind::Missing)
        return settings;
    // A pipe would hold QSettings up for ever, a directory reads as nothing: both are said.
    if (!QFileInfo(path).isFile()) {
        settings.problem =
            QStringLiteral("\"%1\" is not a regular file; the diagnostics use their defaults.").arg(path);
        return settings;
    }
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        settings.problem = QStringLiteral("\"%1\" cannot be read; the diagnostics use their defaults.").arg(path);
        return settings;
    }
    const QVariant trace = file.value(QStringLiteral("diagnostics/trace"));
    if (trace.isValid()) {
        if (const std::optional<bool> on = switchValue(typedText(trace)))
            settings.trace = *on;
        else
            settings.problem =
                QStringLiteral("In \"%1\": [diagnostics] trace=%2 is neither true nor false (false is used).")
                    .arg(path, typedText(trace));
    }
    return settings;
}

} // namespace diagnostics
