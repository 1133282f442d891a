#include "history/TextFormat.h"

#include <sqlite3.h>

#include <cctype>

namespace history {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A digit that starts a number of its own (not the "3" of "m3", not inside another number).
bool startsNumber(const QByteArray& text, qsizetype at)
{
    if (!isDigit(text[at]))
        return false;
    if (at == 0)
        return true;
    const auto before = static_cast<unsigned char>(text[at - 1]);
    return !(std::isalnum(before) || before == '.' || before >= 0x80);
}

void appendLiteral(QByteArray& format, const QByteArray& text, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i) {
        format += text[i];
        if (text[i] == '%')
            format += '%';
    }
}

bool holdsNumber(const QByteArray& text, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i) {
        if (startsNumber(text, i))
            return true;
    }
    return false;
}

} // namespace

QByteArray renderText(const QByteArray& format, const FormatArguments& a)
{
    // sqlite3_mprintf is the printf() of SQL: the same code turns the same doubles into digits.
    char* made = sqlite3_mprintf(format.constData(), a[0].value_or(0), a[1].value_or(0), a[2].value_or(0),
                                 a[3].value_or(0));
    QByteArray text(made ? made : "");
    sqlite3_free(made);
    return text;
}

std::optional<TextFormat> findTextFormat(const QString& shownText, const FormatArguments& arguments)
{
    const QByteArray text = shownText.toUtf8();
    if (text.contains('\0'))
        return std::nullopt;
    TextFormat found;
    qsizetype at = 0;
    bool absentSeen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!arguments[i]) {
            absentSeen = true;
            continue;
        }
        if (absentSeen)
            return std::nullopt;
        qsizetype start = at;
        while (start < text.size() && !startsNumber(text, start))
            ++start;
        if (start == text.size())
            return std::nullopt;
        if (start > at && text[start - 1] == '-')
            --start;
        qsizetype end = start + (text[start] == '-' ? 1 : 0);
        const qsizetype integerStart = end;
        while (end < text.size() && isDigit(text[end]))
            ++end;
        const qsizetype integerDigits = end - integerStart;
        int decimals = 0;
        if (end + 1 < text.size() && text[end] == '.' && isDigit(text[end + 1])) {
            ++end;
            while (end < text.size() && isDigit(text[end])) {
                ++end;
                ++decimals;
            }
        }
        appendLiteral(found.format, text, at, start);
        // Leading zeros that the pattern always shows ("005.3") are a width with zero padding.
        if (integerDigits > 1 && text[integerStart] == '0')
            found.format += "%0" + QByteArray::number(end - start) + '.' + QByteArray::number(decimals) + 'f';
        else
            found.format += "%." + QByteArray::number(decimals) + 'f';
        found.decimals[i] = decimals;
        at = end;
    }
    if (holdsNumber(text, at, text.size()))
        return std::nullopt;
    appendLiteral(found.format, text, at, text.size());
    if (renderText(found.format, arguments) != text)
        return std::nullopt;
    return found;
}

} // namespace history
