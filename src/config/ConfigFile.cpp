#include "config/ConfigFile.h"

#include "common/Cp1252.h"
#include "common/Numbers.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

namespace config {

namespace {

void appendNumber(QByteArray& out, int value)
{
    char digits[12];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end - digits);
}

void appendQuoted(QByteArray& out, const QString& text)
{
    QString clean = text;
    clean.remove(QLatin1Char('"')); // the format has no escape for a double quote
    out.append('"');
    out.append(common::toCp1252(clean));
    out.append('"');
}

const char* boolText(bool value)
{
    return value ? "#TRUE#" : "#FALSE#";
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Reads the file as one flat sequence of fields.
class FieldReader {
public:
    explicit FieldReader(QByteArrayView bytes)
        : bytes_(bytes)
    {
    }

    // The next field, or nothing when the file ends or a quoted text has no closing quote
    // (error() tells which). A field ends at a comma or at the end of a line; blanks before it
    // are skipped. So a comma at the end of a line is followed by an empty field, not by the
    // first field of the next line; empty lines between fields hold none.
    std::optional<QByteArray> next()
    {
        while (pos_ < bytes_.size() && (isBlank(bytes_[pos_]) || (!afterComma_ && isLineEnd(bytes_[pos_]))))
            ++pos_;
        if (pos_ >= bytes_.size()) {
            if (std::exchange(afterComma_, false))
                return QByteArray(); // a comma at the very end: the field after it is empty
            error_ = QStringLiteral("it ends early");
            return std::nullopt;
        }
        QByteArray text;
        if (bytes_[pos_] == '"') {
            const auto* begin = bytes_.begin() + pos_ + 1;
            const auto* close = std::find(begin, bytes_.end(), '"');
            if (close == bytes_.end()) {
                error_ = QStringLiteral("a quoted text has no closing quote");
                return std::nullopt;
            }
            text = QByteArray(begin, close - begin);
            pos_ = close - bytes_.begin() + 1;
            // Anything between the closing quote and the end of the field is passed over.
            while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !isLineEnd(bytes_[pos_]))
                ++pos_;
        } else {
            const qsizetype start = pos_;
            while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !isLineEnd(bytes_[pos_]))
                ++pos_;
            text = QByteArray(bytes_.data() + start, pos_ - start);
            while (!text.isEmpty() && isBlank(text.back()))
                text.chop(1);
        }
        endField();
        return text;
    }

    const QString& error() const { return error_; }

private:
    void endField()
    {
        afterComma_ = false;
        if (pos_ >= bytes_.size())
            return;
        if (bytes_[pos_] == ',') {
            ++pos_;
            afterComma_ = true;
            return;
        }
        if (bytes_[pos_] == '\r')
            ++pos_;
        if (pos_ < bytes_.size() && bytes_[pos_] == '\n')
            ++pos_;
    }

    QByteArrayView bytes_;
    qsizetype pos_ = 0;
    bool afterComma_ = false; // the last field ended at a comma
    QString error_;
};

std::optional<long long> toNumber(const QByteArray& text)
{
    return common::parseWholeNumber<long long>(text);
}

std::optional<bool> toBoolean(const QByteArray& text)
{
    const QByteArray upper = text.trimmed().toUpper();
    if (upper == "#TRUE#")
        return true;
    if (upper == "#FALSE#")
        return false;
    if (const auto number = toNumber(text))
        return *number != 0;
    return std::nullopt;
}

QString inputName(int channel)
{
    return QStringLiteral("Input %1").arg(channel);
}

QString fromFile(const QByteArray& bytes)
{
    QString text = common::fromCp1252(bytes);
    text.remove(QLatin1Char('"'));
    return text;
}

} // namespace

QByteArray serializeConfig(const Channels& channels)
{
    QByteArray out;
    for (const ChannelConfig& channel : channels) {
        appendNumber(out, channel.selected);
        out.append(',');
        appendNumber(out, channel.measurementType);
        out.append("\r\n");
        appendQuoted(out, channel.stationAddress);
        out.append(',');
        appendQuoted(out, channel.tag);
        out.append("\r\n");
    }
    for (const bool ext : {false, true}) {
        for (int i = 0; i < kChannelCount; ++i) {
            if (i > 0)
                out.append(',');
            out.append(boolText(ext ? channels[static_cast<size_t>(i)].ext : channels[static_cast<size_t>(i)].master));
        }
        out.append("\r\n");
    }
    return out;
}

ConfigParse parseConfig(QByteArrayView bytes)
{
    ConfigParse result;
    Channels channels{};
    FieldReader reader(bytes);
    int fieldsRead = 0;

    const auto fail = [&](const QString& problem) {
        result.malformed = true;
        result.problems = QStringList{problem};
        result.channels = Channels{};
        return result;
    };
    const auto missing = [&]() {
        return fail(QStringLiteral("%1 after %2 of its 24 fields").arg(reader.error()).arg(fieldsRead));
    };
    const auto notA = [&](const QByteArray& field, const QString& what, const QString& kind) {
        return fail(QStringLiteral("%1 should be %2 but is \"%3\"")
                        .arg(what, kind, common::printableExcerpt(field)));
    };

    for (int i = 0; i < kChannelCount; ++i) {
        ChannelConfig& channel = channels[static_cast<size_t>(i)];
        const QString name = inputName(i);

        const auto selectedField = reader.next();
        if (!selectedField)
            return missing();
        ++fieldsRead;
        const auto selected = toNumber(*selectedField);
        if (!selected)
            return notA(*selectedField, QStringLiteral("the selection of %1").arg(name), QStringLiteral("a number"));
        if (*selected < 0 || *selected > 2) {
            result.problems << QStringLiteral("the selection of %1 is %2 (allowed: 0, 1 or 2); it is taken as 0")
                                   .arg(name)
                                   .arg(*selected);
        } else {
            channel.selected = static_cast<int16_t>(*selected);
        }

        const auto typeField = reader.next();
        if (!typeField)
            return missing();
        ++fieldsRead;
        const auto type = toNumber(*typeField);
        if (!type)
            return notA(*typeField, QStringLiteral("the measurement type of %1").arg(name), QStringLiteral("a number"));
        if (*type < TypeNone || *type >= kMeasurementTypeCount) {
            result.problems << QStringLiteral("the measurement type of %1 is %2 (allowed: -1 to 15); no type is chosen")
                                   .arg(name)
                                   .arg(*type);
        } else {
            channel.measurementType = static_cast<int16_t>(*type);
        }

        const auto address = reader.next();
        if (!address)
            return missing();
        ++fieldsRead;
        channel.stationAddress = fromFile(*address);

        const auto tag = reader.next();
        if (!tag)
            return missing();
        ++fieldsRead;
        channel.tag = fromFile(*tag);
    }

    for (const bool ext : {false, true}) {
        for (int i = 0; i < kChannelCount; ++i) {
            ChannelConfig& channel = channels[static_cast<size_t>(i)];
            const auto field = reader.next();
            if (!field)
                return missing();
            ++fieldsRead;
            const auto value = toBoolean(*field);
            if (!value)
                return notA(*field,
                            QStringLiteral("the %1 option of %2").arg(ext ? QStringLiteral("Ext.") : QStringLiteral("Master"),
                                                                      inputName(i)),
                            QStringLiteral("#TRUE# or #FALSE#"));
            // Choosing one option of a pair clears the other; clearing one changes nothing else.
            if (ext) {
                channel.ext = *value;
                if (*value)
                    channel.master = false;
            } else {
                channel.master = *value;
                if (*value)
                    channel.ext = false;
            }
        }
    }
    result.channels = channels;
    return result;
}

} // namespace config
