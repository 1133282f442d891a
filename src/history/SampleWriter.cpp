#include "history/SampleWriter.h"

#include "history/TextFormat.h"

#include <algorithm>
#include <cmath>

namespace history {

namespace {

// Column positions in a ReadingRow.
enum Column { Id, TimeMs, Channel, Tag, Type, Ok, Value, Unit, Temperature, Value2, Unit2, TotalDay, Total, Text, Outcome };

constexpr double kExactIntegers = 9007199254740992.0; // 2^53

const QVariant kNullReal{QMetaType::fromType<double>()};

bool isNumber(const QVariant& v)
{
    const int type = v.typeId();
    return type == QMetaType::Double || type == QMetaType::LongLong || type == QMetaType::Int
        || type == QMetaType::ULongLong || type == QMetaType::UInt;
}

// The number as the earlier REAL column kept it (anything else stays as it is).
QVariant asReal(const QVariant& v)
{
    return !v.isNull() && isNumber(v) ? QVariant(v.toDouble()) : v;
}

// `x` as an integer of `scale` units when dividing it back gives exactly `x`; else `x` itself.
QVariant scaled(double x, double scale)
{
    const double units = x * scale;
    if (std::isfinite(units) && std::fabs(units) < kExactIntegers && !(x == 0 && std::signbit(x))) {
        const auto n = static_cast<qint64>(std::llround(units));
        if (static_cast<double>(n) / scale == x)
            return n;
    }
    return x;
}

QVariant wholeOrReal(const QVariant& v)
{
    if (v.isNull() || !isNumber(v))
        return v;
    const double x = v.toDouble();
    return std::isfinite(x) && std::trunc(x) == x && std::fabs(x) < kExactIntegers && !(x == 0 && std::signbit(x))
        ? QVariant(static_cast<qint64>(x))
        : QVariant(x);
}

std::optional<double> argument(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

double power10(int decimals)
{
    return std::pow(10.0, decimals);
}

} // namespace

SampleWriter::SampleWriter(const QSqlDatabase& db)
    : db_(db)
    , findSeries_(db)
    , addSeries_(db)
    , insert_(db)
{
}

bool SampleWriter::prepare()
{
    series_.clear();
    const bool prepared =
        findSeries_.prepare(QStringLiteral("SELECT id FROM series WHERE channel IS ? AND tag IS ? AND type IS ? AND ok IS ?"
                                           " AND unit IS ? AND unit2 IS ? AND outcome IS ? AND format IS ? AND scale IS ?"
                                           " AND scale2 IS ? LIMIT 1"))
        && addSeries_.prepare(QStringLiteral("INSERT INTO series (channel, tag, type, ok, unit, unit2, outcome, format,"
                                             " scale, scale2) VALUES (?,?,?,?,?,?,?,?,?,?)"))
        && insert_.prepare(QStringLiteral("INSERT INTO samples (id, time_ms, series, value, temperature, value2,"
                                          " total_day, total, text) VALUES (?,?,?,?,?,?,?,?,?)"));
    if (!prepared)
        error_ = findSeries_.lastError().isValid() ? findSeries_.lastError()
            : addSeries_.lastError().isValid()     ? addSeries_.lastError()
                                                   : insert_.lastError();
    return prepared;
}

std::optional<qint64> SampleWriter::seriesOf(const std::array<QVariant, 10>& key)
{
    QString name;
    for (const QVariant& part : key)
        name += (part.isNull() ? QStringLiteral("\x01") : part.toString()) + QChar(0x1f);
    if (const auto found = series_.constFind(name); found != series_.constEnd())
        return *found;
    for (QSqlQuery* query : {&findSeries_, &addSeries_}) {
        for (int i = 0; i < static_cast<int>(key.size()); ++i)
            query->bindValue(i, key[static_cast<std::size_t>(i)]);
        if (!query->exec()) {
            error_ = query->lastError();
            return std::nullopt;
        }
        const bool known = query == &findSeries_ && query->next();
        if (known || query == &addSeries_) {
            const qint64 id = known ? query->value(0).toLongLong() : query->lastInsertId().toLongLong();
            query->finish();
            series_.insert(name, id);
            return id;
        }
    }
    return std::nullopt;
}

bool SampleWriter::write(const ReadingRow& row, qint64* id)
{
    // The text's format: only over numbers (a text in a number's column keeps its text) and
    // never with both a temperature and a second value, which would share one argument.
    std::optional<TextFormat> format;
    const bool numbersOnly = std::all_of(row.begin() + Value, row.begin() + Outcome, [&](const QVariant& v) {
        const auto column = &v - row.data();
        return v.isNull() || column == Unit || column == Unit2 || column == Text || isNumber(v);
    });
    if (numbersOnly && (row[Temperature].isNull() || row[Value2].isNull())
        && row[Text].typeId() == QMetaType::QString) {
        const QVariant& second = row[Temperature].isNull() ? row[Value2] : row[Temperature];
        format = findTextFormat(row[Text].toString(),
                                {argument(row[Value]), argument(second), argument(row[TotalDay]), argument(row[Total])});
    }
    QVariant value = asReal(row[Value]);
    QVariant temperature = asReal(row[Temperature]);
    QVariant value2 = asReal(row[Value2]);
    QVariant scale = kNullReal;
    QVariant scale2 = kNullReal;
    if (format) {
        if (format->decimals[0] >= 0) {
            scale = power10(format->decimals[0]);
            value = scaled(value.toDouble(), scale.toDouble());
        }
        if (format->decimals[1] >= 0) {
            scale2 = power10(format->decimals[1]);
            QVariant& second = row[Temperature].isNull() ? value2 : temperature;
            second = scaled(second.toDouble(), scale2.toDouble());
        }
    }
    const std::optional<qint64> series = seriesOf(
        {row[Channel], row[Tag], row[Type], row[Ok], row[Unit], row[Unit2], row[Outcome],
         format ? QVariant(QString::fromUtf8(format->format)) : QVariant(QMetaType::fromType<QString>()), scale, scale2});
    if (!series)
        return false;
    const QVariant bound[] = {row[Id], row[TimeMs], *series, value, temperature, value2, wholeOrReal(row[TotalDay]),
                              wholeOrReal(row[Total]), format ? QVariant(QMetaType::fromType<QString>()) : row[Text]};
    for (int i = 0; i < static_cast<int>(std::size(bound)); ++i)
        insert_.bindValue(i, bound[i]);
    if (!insert_.exec()) {
        error_ = insert_.lastError();
        return false;
    }
    if (id)
        *id = insert_.lastInsertId().toLongLong();
    return true;
}

} // namespace history
