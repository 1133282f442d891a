#include "common/IniSections.h"

#include "common/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>

namespace common {

namespace {

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

std::optional<bool> iniBool(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == u"true" || word == u"1" || word == u"yes" || word == u"on")
        return true;
    if (word == u"false" || word == u"0" || word == u"no" || word == u"off")
        return false;
    return std::nullopt;
}

std::optional<int> iniInt(const QString& text, int low, int high)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return number;
}

QString iniTextProblem(const QByteArray& bytes)
{
    QByteArrayView text = bytes;
    // Editors on Windows begin UTF-8 with a byte order mark, which QSettings skips.
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    bool continued = false; // the line before ended in a backslash: this one is part of its value
    int number = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        start = end + 1;
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\0'))
            return QStringLiteral("line %1 holds a NUL byte").arg(number);
        // Stateless: a character cut short at the line end is an error, not kept for more input.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder(line);
        if (decoder.hasError())
            return QStringLiteral("line %1 is not UTF-8 text").arg(number);
        if (std::any_of(decoded.cbegin(), decoded.cend(),
                        [](QChar c) { return c != u'\t' && c.category() == QChar::Other_Control; }))
            return QStringLiteral("line %1 holds a control character").arg(number);
        const QString trimmed = decoded.trimmed();
        if (!std::exchange(continued, false)) {
            if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
                continue;
            if (trimmed.startsWith(u'[')) {
                if (!trimmed.endsWith(u']'))
                    return QStringLiteral("line %1 is neither a [section] nor a key=value").arg(number);
                continue;
            }
            if (trimmed.indexOf(u'=') <= 0)
                return QStringLiteral("line %1 is neither a [section] nor a key=value").arg(number);
        }
        continued = trimmed.endsWith(u'\\');
    }
    return {};
}

IniFile IniFile::inDirectory(const QString& directory)
{
    return read(QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(kIniFileName)));
}

IniFile IniFile::read(const QString& path)
{
    IniFile file;
    file.path_ = path;
    const EntryKind kind = entryKind(path);
    if (kind == EntryKind::Missing)
        return file;
    if (kind != EntryKind::Regular) {
        file.damage_ = kind == EntryKind::Other
            ? QStringLiteral("\"%1\" is %2").arg(path, entryKindText(kind))
            : QStringLiteral("\"%1\" is not a regular file but %2").arg(path, entryKindText(kind));
        return file;
    }
    QFile in;
    QString reason;
    if (!openForReading(in, path, reason)) {
        file.damage_ = QStringLiteral("\"%1\" cannot be read: %2").arg(path, reason);
        return file;
    }
    // What was opened is what was looked at: a link put there in between is not read through.
    if (!identityAt(path).sameFileAs(identityOf(in, path))) {
        file.damage_ = QStringLiteral("\"%1\" was replaced while it was being opened").arg(path);
        return file;
    }
    const qint64 size = in.size();
    if (size > kMaxIniBytes) {
        file.damage_ = QStringLiteral("\"%1\" is larger than %2 bytes").arg(path).arg(kMaxIniBytes);
        return file;
    }
    const QByteArray bytes = in.read(size);
    if (in.error() != QFileDevice::NoError) {
        file.damage_ = QStringLiteral("\"%1\" cannot be read: %2").arg(path, in.errorString());
        return file;
    }
    if (const QString problem = iniTextProblem(bytes); !problem.isEmpty()) {
        file.damage_ = QStringLiteral("\"%1\" cannot be read: %2").arg(path, problem);
        return file;
    }
    // QSettings reads only from a file. It is given a copy of the bytes checked above, under a
    // name nothing else has opened: its status then speaks of this reading, and a file changed
    // or swapped for a pipe since it was checked is never read. Without a temporary folder it
    // reads the file itself, which has just been checked.
    const QTemporaryDir scratch;
    QString source = path;
    if (scratch.isValid()) {
        QFile copy(scratch.filePath(QLatin1String(kIniFileName)));
        if (copy.open(QIODevice::WriteOnly) && copy.write(bytes) == bytes.size() && copy.flush())
            source = copy.fileName();
        copy.close();
    }
    const QSettings settings(source, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        file.damage_ = QStringLiteral("\"%1\" cannot be read as settings").arg(path);
        return file;
    }
    for (const QString& key : settings.allKeys())
        file.values_.insert(key, settings.value(key));
    return file;
}

IniSection IniFile::section(const QString& name) const
{
    const QString prefix = name + u'/';
    QHash<QString, QVariant> values;
    for (auto it = values_.cbegin(); it != values_.cend(); ++it) {
        if (it.key().startsWith(prefix))
            values.insert(it.key().mid(prefix.size()), it.value());
    }
    return IniSection(name, path_, damage_, std::move(values));
}

IniSection::IniSection(QString name, QString path, QString damage, QHash<QString, QVariant> values)
    : name_(std::move(name))
    , path_(std::move(path))
    , damage_(std::move(damage))
    , values_(std::move(values))
{
}

std::optional<QString> IniSection::text(const QString& key, const QString& defaultText, const QString& commaWhat)
{
    const auto found = values_.constFind(key);
    if (found == values_.cend())
        return std::nullopt;
    if (found->userType() == QMetaType::QStringList) {
        bad(key, found->toStringList().join(QStringLiteral(", ")), commaWhat, defaultText);
        return std::nullopt;
    }
    QString value = found->toString();
    if (hasControlCharacter(value)) {
        // Not shown: the message would carry the character itself.
        problems_ << QStringLiteral("[%1] %2 holds a control character (%3 is used)").arg(name_, key, defaultText);
        return std::nullopt;
    }
    return value;
}

std::optional<bool> IniSection::boolean(const QString& key, const QString& defaultText)
{
    const std::optional<QString> value = text(key, defaultText);
    if (!value)
        return std::nullopt;
    const std::optional<bool> result = iniBool(*value);
    if (!result)
        bad(key, *value, QStringLiteral("is neither true nor false"), defaultText);
    return result;
}

std::optional<int> IniSection::integer(const QString& key, int low, int high, const QString& what,
                                       const QString& defaultText)
{
    const std::optional<QString> value = text(key, defaultText);
    if (!value)
        return std::nullopt;
    const std::optional<int> result = iniInt(*value, low, high);
    if (!result)
        bad(key, *value, what, defaultText);
    return result;
}

void IniSection::bad(const QString& key, const QString& value, const QString& what, const QString& defaultText)
{
    problems_ << QStringLiteral("[%1] %2=%3 %4 (%5 is used)").arg(name_, key, value, what, defaultText);
}

QString IniSection::report(const QString& consequence) const
{
    if (!damage_.isEmpty())
        return QStringLiteral("%1; %2.").arg(damage_, consequence);
    if (problems_.isEmpty())
        return {};
    return QStringLiteral("In \"%1\": %2.").arg(path_, problems_.join(QStringLiteral("; ")));
}

} // namespace common
