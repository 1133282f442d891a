#include "history/Recovery.h"

#include "common/SafeFiles.h"
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace history {

namespace {

// Ids read per query while nothing fails: one query per few hundred kilobytes of readings.
constexpr qint64 kRangeIds = 4096;
constexpr qint64 kLargestId = std::numeric_limits<qint64>::max();
// SQLite's primary result codes of a row the new file's layout refuses (a NULL where a value is
// required, ...): such a row comes from a damaged page, not from the new file.
constexpr int kSqliteConstraint = 19;
constexpr int kSqliteMismatch = 20;

// The columns of a reading, one by one.
QStringList readingColumnList()
{
    return QString::fromLatin1(kReadingColumns).split(QLatin1Char(','), Qt::SkipEmptyParts).replaceInStrings(
        QStringLiteral(" "), QString());
}

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString reasonOf(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// The new file under a temporary name beside it; removed unless it was renamed into place.
class TemporaryTarget {
public:
    TemporaryTarget() = default;
    ~TemporaryTarget()
    {
        if (!path_.isEmpty() && !renamed_)
            QFile::remove(path_);
    }
    TemporaryTarget(const TemporaryTarget&) = delete;
    TemporaryTarget& operator=(const TemporaryTarget&) = delete;

    QString create(const QString& finalPath)
    {
        finalPath_ = finalPath;
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QString name = finalPath_ + QStringLiteral(".part-%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                             QLatin1Char('0'));
            QFile file;
            const common::WriteOpening opening = common::openForWriting(file, name, common::WriteMode::CreateNew);
            if (opening.opened) {
                path_ = name;
                return {};
            }
            if (!opening.alreadyThere)
                return opening.error;
        }
        return QStringLiteral("no free temporary name beside it");
    }

    // Fails rather than replace a file that came to the name meanwhile.
    QString rename()
    {
        QFile file(path_);
        if (!file.rename(finalPath_))
            return file.errorString();
        renamed_ = true;
        return {};
    }

    QString path() const { return path_; }

private:
    QString finalPath_;
    QString path_;
    bool renamed_ = false;
};

// A connection of its own to the new file, closed and removed with the object.
class TargetConnection {
public:
    TargetConnection()
    {
        static std::atomic<int> counter{0};
        name_ = QStringLiteral("zentlog-history-rescue-%1").arg(++counter);
    }
    ~TargetConnection()
    {
        database().close();
        QSqlDatabase::removeDatabase(name_);
    }
    TargetConnection(const TargetConnection&) = delete;
    TargetConnection& operator=(const TargetConnection&) = delete;

    QSqlDatabase open(const QString& path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        db.open();
        return db;
    }
    QSqlDatabase database() const { return QSqlDatabase::database(name_, false); }

private:
    QString name_;
};

class Rescue {
public:
    explicit Rescue(const std::function<bool()>& keepGoing)
        : keepGoing_(keepGoing)
    {
    }

    RecoveryOutcome run(const QString& damagedPath, const QString& newPath);

private:
    enum class Order { Up, Down };
    // What a read of a range gave: the last row taken, and whether the read ended without an
    // error. That does not prove every row was seen: a damaged row's id can end a range early.
    struct Pass {
        bool clean = false;
        std::optional<qint64> lastId;
    };

    RecoveryOutcome end(RecoveryOutcome::Status status, const QString& message)
    {
        outcome_.status = status;
        outcome_.message = message;
        return outcome_;
    }
    bool stopped()
    {
        if (!cancelled_ && keepGoing_ && !keepGoing_())
            cancelled_ = true;
        return cancelled_ || !writeError_.isEmpty();
    }
    void noteDamage(const QString& reason)
    {
        if (damage_.isEmpty())
            damage_ = reason;
    }
    std::optional<qint64> scalar(const QString& sql) const;
    bool prepareSelects();
    Pass read(qint64 first, qint64 last, Order order);
    bool insertRow(const QSqlQuery& row);
    void copyRange(qint64 first, qint64 last);
    void findMissing(QSqlDatabase target, qint64 first, qint64 last);
    void copyAcknowledgements(QSqlDatabase target);

    std::function<bool()> keepGoing_;
    ReadOnlyHistory source_;
    // Destroyed in reverse: the statement, then the connection, then the unfinished file.
    TemporaryTarget temporary_;
    TargetConnection target_;
    std::unique_ptr<QSqlQuery> insert_;
    int columnCount_ = 0; // of readingColumnList(), which insert_ takes
    QString selectUp_;
    QString selectDown_;
    RecoveryOutcome outcome_;
    QString damage_;
    QString writeError_;
    bool cancelled_ = false;
};

std::optional<qint64> Rescue::scalar(const QString& sql) const
{
    QSqlQuery query(source_.database());
    if (!query.exec(sql) || !query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

// A file of the first layout has no `outcome`: its rows get NULL there, as the recorder would
// have given them.
bool Rescue::prepareSelects()
{
    QSqlQuery query(source_.database());
    if (!query.exec(QStringLiteral("PRAGMA table_info(readings)")))
        return false;
    QStringList present;
    while (query.next())
        present << query.value(1).toString();
    if (query.lastError().isValid() || present.isEmpty())
        return false;
    QStringList columns;
    for (const QString& column : readingColumnList())
        columns << (present.contains(column) ? column : QStringLiteral("NULL"));
    // NOT INDEXED: the rows are looked up by id in the table itself, never through the index,
    // whose own pages may be the damaged ones (the compact layout's view reads its samples by id).
    QSqlDatabase source = source_.database();
    const QString select = QStringLiteral("SELECT %1 FROM readings %2 WHERE id BETWEEN ? AND ? ORDER BY id ")
                               .arg(columns.join(QStringLiteral(", ")),
                                    holdsTableLayout(source) ? QStringLiteral("NOT INDEXED") : QString());
    selectUp_ = select + QStringLiteral("ASC");
    selectDown_ = select + QStringLiteral("DESC");
    return true;
}

Rescue::Pass Rescue::read(qint64 first, qint64 last, Order order)
{
    Pass pass;
    QSqlQuery query(source_.database());
    query.setForwardOnly(true);
    if (!query.prepare(order == Order::Up ? selectUp_ : selectDown_)) {
        noteDamage(reasonOf(query.lastError()));
        return pass;
    }
    query.addBindValue(first);
    query.addBindValue(last);
    if (!query.exec()) {
        noteDamage(reasonOf(query.lastError()));
        return pass;
    }
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        // A damaged page can still pass for a page: rows out of order or outside the range come
        // from one, and are not taken.
        const bool inOrder = !pass.lastId || (order == Order::Up ? id > *pass.lastId : id < *pass.lastId);
        if (id < first || id > last || !inOrder) {
            noteDamage(QStringLiteral("rows out of order"));
            return pass;
        }
        if (!insertRow(query))
            return pass;
        pass.lastId = id;
    }
    if (query.lastError().isValid()) {
        noteDamage(reasonOf(query.lastError()));
        return pass;
    }
    pass.clean = true;
    return pass;
}

// What a row of the recorder always is. A damaged page that passes for a page, or a row cut by
// the edge of a damaged stretch, can still give rows of garbage: their texts hold bytes that are
// not UTF-8 or control characters, their numbers are out of any measured range, their outcome is
// not a word. Such rows are left out rather than passed off as readings.
bool isCleanText(const QVariant& value, bool nullable)
{
    if (value.isNull())
        return nullable;
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString text = value.toString();
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QChar::ReplacementCharacter || (c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n');
    });
}

bool isMeasuredNumber(const QVariant& value)
{
    constexpr double kLargest = 1e15;
    if (value.isNull())
        return true;
    if (value.typeId() != QMetaType::Double && value.typeId() != QMetaType::LongLong)
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::abs(number) <= kLargest;
}

bool isPlausible(const QSqlQuery& row)
{
    // Year 1 to year 9999, the times a calendar date is written for; the recorder's are far inside.
    constexpr qint64 kLastTimeMs = 253'402'300'799'999;
    enum { Time = 1, Channel, Tag, Type, Ok, Value, Unit, Temperature, Value2, Unit2, TotalDay, Total, Text, Outcome };
    const QVariant time = row.value(Time);
    const QVariant channel = row.value(Channel);
    const QVariant ok = row.value(Ok);
    const QString outcome = row.value(Outcome).toString();
    constexpr std::array<int, 5> kNumbers{Value, Temperature, Value2, TotalDay, Total};
    return time.typeId() == QMetaType::LongLong && time.toLongLong() >= 0 && time.toLongLong() <= kLastTimeMs
        && channel.typeId() == QMetaType::LongLong && channel.toLongLong() >= 0 && channel.toLongLong() < 4
        && ok.typeId() == QMetaType::LongLong && (ok.toLongLong() == 0 || ok.toLongLong() == 1)
        && isCleanText(row.value(Tag), false) && isCleanText(row.value(Type), false) && isCleanText(row.value(Unit), true)
        && isCleanText(row.value(Unit2), true) && isCleanText(row.value(Text), false)
        && std::all_of(outcome.cbegin(), outcome.cend(), [](QChar c) { return c.isDigit() || c == u'_' || (c >= u'a' && c <= u'z'); })
        && (row.value(Outcome).isNull() || row.value(Outcome).typeId() == QMetaType::QString)
        && std::all_of(kNumbers.cbegin(), kNumbers.cend(), [&row](int column) { return isMeasuredNumber(row.value(column)); });
}

bool Rescue::insertRow(const QSqlQuery& row)
{
    if (!isPlausible(row)) {
        noteDamage(QStringLiteral("rows that are not readings"));
        return false;
    }
    for (int column = 0; column < columnCount_; ++column)
        insert_->bindValue(column, row.value(column));
    if (insert_->exec()) {
        ++outcome_.readings;
        return true;
    }
    const QSqlError error = insert_->lastError();
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    if (isNumber && (code == kSqliteConstraint || code == kSqliteMismatch))
        noteDamage(QStringLiteral("a row that is not a reading (%1)").arg(reasonOf(error)));
    else
        writeError_ = reasonOf(error);
    return false;
}

// Reads the range from its lower end up to the first row that fails, then from its upper end
// down to the last row that fails; what lies between is read again the same way, and split in
// two once neither end gives a row, until each part is read or is a single id.
void Rescue::copyRange(qint64 first, qint64 last)
{
    if (first > last || stopped())
        return;
    const Pass up = read(first, last, Order::Up);
    if (stopped() || (up.lastId && *up.lastId == last) || first == last)
        return;
    const qint64 from = up.lastId ? *up.lastId + 1 : first;
    const Pass down = read(from, last, Order::Down);
    // Both ends agree that nothing lies beyond the rows read from below.
    if (stopped() || (up.clean && down.clean && !down.lastId))
        return;
    const qint64 to = down.lastId ? *down.lastId - 1 : last;
    if (from > to)
        return;
    if (from != first || to != last) {
        copyRange(from, to);
        return;
    }
    const qint64 middle = first + (last - first) / 2;
    copyRange(first, middle);
    copyRange(middle + 1, last);
}

// The ids from `first` to `last` that are not in the new file. The recorder never deletes a
// reading between two others (only the oldest go), so every such id was a reading on a damaged page.
void Rescue::findMissing(QSqlDatabase target, qint64 first, qint64 last)
{
    QSqlQuery query(target);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM readings WHERE id BETWEEN ? AND ? ORDER BY id"));
    query.addBindValue(first);
    query.addBindValue(last);
    qint64 expected = first;
    if (query.exec()) {
        while (query.next()) {
            const qint64 id = query.value(0).toLongLong();
            if (id > expected)
                outcome_.skipped.append({expected, id - 1});
            expected = id + 1;
        }
    }
    if (expected <= last)
        outcome_.skipped.append({expected, last});
}

void Rescue::copyAcknowledgements(QSqlDatabase target)
{
    if (scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'mqtt_acked'")).value_or(0) == 0)
        return;
    QSqlQuery insert(target);
    insert.prepare(QStringLiteral("INSERT OR IGNORE INTO mqtt_acked (destination, first_id, last_id) VALUES (?, ?, ?)"));
    // From the first row on, and when that stops at a damaged page, from the last one back.
    outcome_.acknowledgementsDamaged = true;
    for (const char* order : {"ASC", "DESC"}) {
        QSqlQuery query(source_.database());
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("SELECT destination, first_id, last_id FROM mqtt_acked ORDER BY destination %1, first_id %1")
                           .arg(QLatin1String(order)))) {
            while (query.next()) {
                for (int column = 0; column < 3; ++column)
                    insert.bindValue(column, query.value(column));
                insert.exec(); // a row the layout refuses came from a damaged page
            }
        }
        if (!query.lastError().isValid()) {
            outcome_.acknowledgementsDamaged = false;
            break;
        }
    }
    QSqlQuery count(target);
    if (count.exec(QStringLiteral("SELECT count(*) FROM mqtt_acked")) && count.next())
        outcome_.acknowledgements = count.value(0).toLongLong();
}

RecoveryOutcome Rescue::run(const QString& damagedPath, const QString& newPath)
{
    using Status = RecoveryOutcome::Status;
    if (newPath.isEmpty())
        return end(Status::Failed, QStringLiteral("Name the new file the rescued history is written to."));
    if (const common::EntryKind kind = common::entryKind(newPath); kind != common::EntryKind::Missing) {
        return end(Status::Failed, QStringLiteral("\"%1\" already exists (%2): the rescued history is only written to a "
                                                  "new file.")
                                       .arg(shown(newPath), common::entryKindText(kind)));
    }
    if (const QString error = source_.open(damagedPath, ReadMode::Once); !error.isEmpty())
        return end(Status::Failed, error);
    if (const QString error = source_.checkIsHistory(); !error.isEmpty())
        return end(Status::NothingRead, error);
    // Checks every row's size against its page as it is read, so that fewer damaged pages pass
    // for sound ones.
    QSqlQuery(source_.database()).exec(QStringLiteral("PRAGMA cell_size_check = ON"));
    if (!prepareSelects()) {
        return end(Status::NothingRead,
                   QStringLiteral("The history file \"%1\" is damaged: the layout of its readings cannot be read.")
                       .arg(shown(damagedPath)));
    }

    // The ids to read: from the lowest to the highest any table tells of. SQLite finds them at
    // the ends of the table, whose pages may be damaged; the index, the minutes and the MQTT
    // acknowledgements each know them too.
    std::optional<qint64> lowest = scalar(QStringLiteral("SELECT min(id) FROM readings"));
    if (!lowest)
        lowest = scalar(QStringLiteral("SELECT min(id) FROM readings INDEXED BY readings_channel_time"));
    const std::optional<qint64> highestInTable = scalar(QStringLiteral("SELECT max(id) FROM readings"));
    const qint64 first = lowest.value_or(1);
    qint64 highest = highestInTable.value_or(first);
    if (!highestInTable) {
        for (const char* sql : {"SELECT max(id) FROM readings INDEXED BY readings_channel_time",
                                "SELECT max(max_id) FROM minutes", "SELECT max(last_id) FROM mqtt_acked"})
            highest = std::max(highest, scalar(QString::fromLatin1(sql)).value_or(highest));
    }

    if (const QString error = temporary_.create(newPath); !error.isEmpty())
        return end(Status::Failed, QStringLiteral("\"%1\" cannot be written: %2").arg(shown(newPath), error));
    QSqlDatabase target = target_.open(temporary_.path());
    const auto writeFailure = [&](const QString& reason) {
        return end(Status::Failed, QStringLiteral("\"%1\" cannot be written: %2").arg(shown(newPath), reason));
    };
    if (!target.isOpen())
        return writeFailure(reasonOf(target.lastError()));
    {
        // The file is thrown away if anything goes wrong, so its journal need not survive a crash.
        QSqlQuery pragma(target);
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode = MEMORY")))
            return writeFailure(reasonOf(pragma.lastError()));
    }
    if (const QString error = ensureSchema(target); !error.isEmpty())
        return writeFailure(error);
    if (!target.transaction())
        return writeFailure(reasonOf(target.lastError()));
    insert_ = std::make_unique<QSqlQuery>(target);
    const QStringList columns = readingColumnList();
    columnCount_ = int(columns.size());
    if (!insert_->prepare(QStringLiteral("INSERT INTO readings (%1) VALUES (?%2)")
                              .arg(columns.join(QStringLiteral(", ")), QStringLiteral(", ?").repeated(columnCount_ - 1))))
        return writeFailure(reasonOf(insert_->lastError()));

    for (qint64 from = first; from <= highest && !stopped();) {
        const qint64 to = highest - from < kRangeIds ? highest : from + kRangeIds - 1;
        copyRange(from, to);
        if (to == kLargestId)
            break;
        from = to + 1;
    }
    // Without the table's own highest id, readings after the highest id known elsewhere are
    // read until the first that fails.
    bool endUnknown = false;
    if (!highestInTable && highest < kLargestId && !stopped()) {
        const Pass tail = read(highest + 1, kLargestId, Order::Up);
        highest = tail.lastId.value_or(highest);
        endUnknown = !tail.clean && highest < kLargestId;
    }
    if (cancelled_)
        return end(Status::Cancelled, QStringLiteral("The rescue was interrupted; no file was written."));
    if (!writeError_.isEmpty())
        return writeFailure(writeError_);
    if (outcome_.readings == 0) {
        const QString why = damage_.isEmpty() ? QStringLiteral("it holds no readings") : damage_;
        return end(Status::NothingRead,
                   QStringLiteral("No reading could be read from the history file \"%1\" (%2).").arg(shown(damagedPath), why));
    }

    insert_.reset();
    findMissing(target, first, highest);
    if (endUnknown)
        outcome_.skipped.append({highest + 1, kLargestId});
    {
        QSqlQuery minutes(target);
        if (!minutes.exec(QString::fromLatin1(kFillMinutes)))
            return writeFailure(reasonOf(minutes.lastError()));
        if (minutes.exec(QStringLiteral("SELECT count(*) FROM minutes")) && minutes.next())
            outcome_.minutes = minutes.value(0).toLongLong();
    }
    copyAcknowledgements(target);
    if (!target.commit())
        return writeFailure(reasonOf(target.lastError()));
    target.close();
    if (const QString error = temporary_.rename(); !error.isEmpty())
        return writeFailure(error);
    return end(Status::Rescued, damage_);
}

} // namespace

RecoveryOutcome recoverHistory(const QString& damagedPath, const QString& newPath, const std::function<bool()>& keepGoing)
{
    Rescue rescue(keepGoing);
    return rescue.run(damagedPath, newPath);
}

} // namespace history
