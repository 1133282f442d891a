#include "history/HistorySettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace history {

HistorySettings HistorySettings::load(const QString& directory)
{
    HistorySettings settings;
    const QString path = QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(kSettingsFileName);
    // QSettings reads an absent file as empty and does not create it; it only writes on a change.
    if (!QFileInfo(path).isFile())
        return settings;
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        settings.problem = QStringLiteral("\"%1\" cannot be read; the history uses its defaults.").arg(path);
        return settings;
    }
    QStringList problems;
    const QVariant enabled = file.value(QStringLiteral("history/enabled"));
    if (enabled.isValid()) {
        const QString text = enabled.toString().trimmed().toLower();
        if (text == u"true" || text == u"1" || text == u"yes" || text == u"on")
            settings.enabled = true;
        else if (text == u"false" || text == u"0" || text == u"no" || text == u"off")
            settings.enabled = false;
        else
            problems << QStringLiteral("[history] enabled=%1 is neither true nor false (true is used)").arg(text);
    }
    const QVariant retention = file.value(QStringLiteral("history/retention_days"));
    if (retention.isValid()) {
        bool ok = false;
        const int days = retention.toString().trimmed().toInt(&ok);
        if (ok && days > 0)
            settings.retentionDays = days;
        else
            problems << QStringLiteral("[history] retention_days=%1 is not a number of days above 0 (400 is used)")
                            .arg(retention.toString());
    }
    if (!problems.isEmpty())
        settings.problem = QStringLiteral("In \"%1\": %2.").arg(path, problems.join(QStringLiteral("; ")));
    return settings;
}

} // namespace history
