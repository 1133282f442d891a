#pragma once
// Writes readings into the compact layout: the series a reading belongs to (found once and then
// kept in memory), its numbers as small scaled integers where that loses nothing, and its text
// only when the series' format does not give it back exactly.

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

namespace history {

// A reading as the columns of `readings` hold it, in the order of kReadingColumns (id first; a
// null id takes the next free one).
using ReadingRow = std::array<QVariant, 15>;

class SampleWriter {
public:
    explicit SampleWriter(const QSqlDatabase& db);

    // Prepares the statements; false with lastError() when the file cannot take them.
    bool prepare();
    // Writes one reading; its id goes to `id`.
    bool write(const ReadingRow& row, qint64* id = nullptr);
    QSqlError lastError() const { return error_; }

private:
    std::optional<qint64> seriesOf(const std::array<QVariant, 10>& key);

    QSqlDatabase db_;
    QSqlQuery findSeries_;
    QSqlQuery addSeries_;
    QSqlQuery insert_;
    QSqlError error_;
    QHash<QString, qint64> series_;
};

} // namespace history
