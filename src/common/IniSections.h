#pragma once
// Reading the options of "zentlog.ini": the file is read once, checked as a whole, and each part
// of the program takes its own section from it through typed getters that note what they cannot
// use. QSettings alone cannot be trusted to say that a file is damaged: it reports a parse error
// only to the first object that opens a file it has not cached yet, and reads random bytes or
// lines it does not understand as nothing at all.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace common {

inline constexpr char kIniFileName[] = "zentlog.ini";
// "zentlog.ini" holds a few options; anything larger is no file of ours.
inline constexpr qint64 kMaxIniBytes = 1024 * 1024;

// The words "zentlog.ini" accepts for a yes/no option, in any case: true/false, 1/0, yes/no, on/off.
std::optional<bool> iniBool(const QString& text);
// A whole number from `low` to `high`, blanks around it allowed.
std::optional<int> iniInt(const QString& text, int low, int high);

// Why `bytes` are no INI text, naming the first bad line ("line 3 holds a NUL byte"); empty when
// every line is blank, a comment, a [section] or a key=value.
QString iniTextProblem(const QByteArray& bytes);

class IniSection;

class IniFile {
public:
    // Reads "zentlog.ini" in `directory` (empty: the working directory).
    static IniFile inDirectory(const QString& directory);
    // Reads the file at `path`. Only a regular file is read: a link, a pipe or a folder at the
    // name is refused without being opened through. A missing file has no sections and no damage.
    static IniFile read(const QString& path);

    const QString& path() const { return path_; }
    bool damaged() const { return !damage_.isEmpty(); }
    // Why the file as a whole cannot be used, naming it ("\"/x/zentlog.ini\" cannot be read: line 1
    // is not UTF-8 text"); empty when it can. A damaged file has no sections.
    const QString& damage() const { return damage_; }

    IniSection section(const QString& name) const;

private:
    IniFile() = default;

    QString path_;
    QString damage_;
    QHash<QString, QVariant> values_; // as QSettings reads them, keyed "section/key"
};

// The keys of one section. Each getter gives nothing for an absent key; a value it cannot use is
// noted as a problem ("[mqtt] port=http is not a port number ... (the default port is used)") and
// gives nothing too, so that the caller keeps its default.
class IniSection {
public:
    // The text as written. QSettings splits an unquoted value at its commas: such a value is a
    // problem, told with `commaWhat`; so is a control character (written as an escape).
    std::optional<QString> text(const QString& key, const QString& defaultText,
                                const QString& commaWhat = QStringLiteral("holds a comma; put the value in double quotes"));
    std::optional<bool> boolean(const QString& key, const QString& defaultText);
    std::optional<int> integer(const QString& key, int low, int high, const QString& what, const QString& defaultText);

    // Notes "[section] key=value what (defaultText is used)".
    void bad(const QString& key, const QString& value, const QString& what, const QString& defaultText);
    const QStringList& problems() const { return problems_; }

    // What the caller tells its user, empty when all is well: the damage of the whole file followed
    // by `consequence` ("the history uses its defaults"), or the problems of the section, naming the
    // file.
    QString report(const QString& consequence) const;

private:
    friend class IniFile;
    IniSection(QString name, QString path, QString damage, QHash<QString, QVariant> values);

    QString name_;
    QString path_;
    QString damage_;
    QHash<QString, QVariant> values_; // keyed by the key alone
    QStringList problems_;
};

} // namespace common
