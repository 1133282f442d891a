#include "common/IniFiles.h"

#include "common/IniSections.h"
#include "common/SafeFiles.h"
#include "common/TextFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

namespace common {

namespace {

// A value as QSettings reads it back from an INI file: as it is when it holds nothing that
// QSettings gives a meaning to, else in quotes with its backslashes and quotes escaped (udev
// writes a space in a by-id name as "\x20", which QSettings would otherwise turn into a space).
QByteArray iniValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    bool plain = true;
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

QString settingsKey(const QString& section, const QString& key)
{
    return section + u'/' + key;
}

// The file's text with the changed keys of [section] replaced where they stand (a second line of
// the same key dropped), the new ones added at the end of the first such section, or of a new
// one at the end of the file. Every other line stays as the user wrote it, comments and order
// included, which a rewrite by QSettings would lose.
QByteArray editedText(const QByteArray& original, const QString& section, const QList<IniChange>& changes)
{
    const QByteArray eol = original.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray sectionName = section.toUtf8();
    QHash<QByteArray, qsizetype> changeOf;
    for (qsizetype k = 0; k < changes.size(); ++k)
        changeOf.insert(changes[k].key.toUtf8(), k);
    QList<QByteArray> lines = original.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QList<QByteArray> out;
    QSet<qsizetype> placed;
    bool inSection = false;
    bool firstSectionOver = false;
    qsizetype insertAt = -1;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray text = line.trimmed();
        if (text.startsWith('[') && text.endsWith(']')) {
            if (inSection)
                firstSectionOver = true;
            inSection = text.mid(1, text.size() - 2).trimmed() == sectionName;
        } else if (inSection && text.contains('=')) {
            const QByteArray key = text.left(text.indexOf('=')).trimmed();
            if (const auto found = changeOf.constFind(key); found != changeOf.cend()) {
                const IniChange& change = changes[*found];
                if (placed.contains(*found) || !change.value)
                    continue;
                placed.insert(*found);
                line = key + '=' + iniValue(*change.value);
            }
        }
        out.append(line);
        if (inSection && !firstSectionOver && !text.isEmpty())
            insertAt = out.size();
    }
    QList<QByteArray> added;
    for (qsizetype k = 0; k < changes.size(); ++k) {
        if (!placed.contains(k) && changes[k].value)
            added.append(changes[k].key.toUtf8() + '=' + iniValue(*changes[k].value));
    }
    if (insertAt >= 0) {
        for (qsizetype k = 0; k < added.size(); ++k)
            out.insert(insertAt + k, added[k]);
    } else if (!added.isEmpty()) {
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out.append(QByteArray());
        out.append('[' + sectionName + ']');
        out.append(added);
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

} // namespace

QString saveIniSection(const QString& path, const QString& section, const QList<IniChange>& changes,
                       qint64 maxBytes)
{
    const EntryKind kind = entryKind(path);
    if (kind != EntryKind::Missing && kind != EntryKind::Regular)
        return QStringLiteral("\"%1\" is %2; it is not written through").arg(path, entryKindText(kind));
    QByteArray bytes;
    if (kind == EntryKind::Regular) {
        const FileRead read = readSmallFile(path, maxBytes);
        if (read.status != FileRead::Status::Ok)
            return QStringLiteral("\"%1\" cannot be read (%2); it is left as it is").arg(path, read.error);
        bytes = read.bytes;
    }
    // A file the options are not read from is not written to either: the user would be told it
    // was saved, and the next reading would still use the defaults.
    if (const QString problem = iniTextProblem(bytes); !problem.isEmpty())
        return QStringLiteral("\"%1\" cannot be read as settings (%2); it is left as it is").arg(path, problem);
    // QSettings writes its file in place, and a full disk can leave it cut short. So it edits a
    // copy in a folder of its own, and the result replaces the file in one rename.
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        return QStringLiteral("no temporary folder for editing \"%1\": %2").arg(path, scratch.errorString());
    const QString copy = scratch.filePath(QFileInfo(path).fileName());
    if (const QString error = saveAtomically(copy, bytes); !error.isEmpty())
        return QStringLiteral("\"%1\" cannot be copied for editing: %2").arg(path, error);
    {
        const QSettings readable(copy, QSettings::IniFormat);
        if (readable.status() != QSettings::NoError)
            return QStringLiteral("\"%1\" cannot be read as settings; it is left as it is").arg(path);
    }
    // The user's text edited in place, when QSettings reads from it exactly what it would have
    // written; else (a layout the edit does not foresee) QSettings rewrites the file itself.
    QMap<QString, QVariant> expected = iniContent(copy);
    for (const IniChange& change : changes) {
        if (change.value)
            expected.insert(settingsKey(section, change.key), *change.value);
        else
            expected.remove(settingsKey(section, change.key));
    }
    const QString inPlace = scratch.filePath(QStringLiteral("edited.ini"));
    if (const QString error = saveAtomically(inPlace, editedText(bytes, section, changes)); !error.isEmpty())
        return QStringLiteral("the new settings for \"%1\" could not be written: %2").arg(path, error);
    if (iniContent(inPlace) != expected) {
        QSettings edited(copy, QSettings::IniFormat);
        for (const IniChange& change : changes) {
            if (change.value)
                edited.setValue(settingsKey(section, change.key), *change.value);
            else
                edited.remove(settingsKey(section, change.key));
        }
        edited.sync();
        if (edited.status() != QSettings::NoError)
            return QStringLiteral("the new settings for \"%1\" could not be written").arg(path);
    } else if (!QFile::remove(copy) || !QFile::rename(inPlace, copy)) {
        return QStringLiteral("the new settings for \"%1\" could not be written").arg(path);
    }
    const FileRead result = readSmallFile(copy, maxBytes);
    if (result.status != FileRead::Status::Ok)
        return QStringLiteral("the new settings for \"%1\" cannot be read back: %2").arg(path, result.error);
    if (const QString error = saveAtomically(path, result.bytes); !error.isEmpty())
        return QStringLiteral("\"%1\" could not be saved: %2").arg(path, error);
    return {};
}

} // namespace common
