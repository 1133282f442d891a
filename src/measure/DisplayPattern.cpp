#include "measure/DisplayPattern.h"

#include <charconv>
#include <cmath>
#include <string>

namespace measure {

namespace {

bool isNumberChar(QChar c)
{
    return c == u'0' || c == u'#' || c == u'.';
}

// The number part of a pattern: the first run of '0', '#' and '.' holding a digit position.
struct NumberSection {
    qsizetype begin = -1;
    qsizetype end = -1;
    int integerZeros = 0;  // '0' before the separator: integer digits always shown
    int fractionZeros = 0; // '0' after it: decimals always shown
    int fractionHashes = 0;
    bool hasSeparator = false;
};

NumberSection findNumberSection(const QString& pattern)
{
    NumberSection section;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (!isNumberChar(pattern[i]))
            continue;
        qsizetype j = i;
        bool hasDigit = false;
        while (j < pattern.size() && isNumberChar(pattern[j])) {
            hasDigit = hasDigit || pattern[j] != u'.';
            ++j;
        }
        if (!hasDigit) {
            i = j;
            continue;
        }
        section.begin = i;
        section.end = j;
        for (qsizetype k = i; k < j; ++k) {
            const QChar c = pattern[k];
            if (c == u'.' && !section.hasSeparator)
                section.hasSeparator = true;
            else if (c == u'0')
                ++(section.hasSeparator ? section.fractionZeros : section.integerZeros);
            else if (c == u'#' && section.hasSeparator)
                ++section.fractionHashes;
        }
        return section;
    }
    return section;
}

// The magnitude of a value as decimal digits: integer digits and fraction digits.
struct Decimal {
    std::string integer;
    std::string fraction;
};

Decimal decimalOf(double magnitude)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed);
    const std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    const auto point = text.find('.');
    if (point == std::string::npos)
        return {text.empty() ? std::string("0") : text, {}};
    return {text.substr(0, point), text.substr(point + 1)};
}

// Exact multiplication by 100: the separator moves two digits to the right.
void timesHundred(Decimal& d)
{
    while (d.fraction.size() < 2)
        d.fraction.push_back('0');
    d.integer += d.fraction.substr(0, 2);
    d.fraction.erase(0, 2);
}

// Keeps `decimals` fraction digits, rounding the magnitude half up (away from zero).
void roundTo(Decimal& d, std::size_t decimals)
{
    if (d.fraction.size() <= decimals) {
        d.fraction.append(decimals - d.fraction.size(), '0');
        return;
    }
    const bool up = d.fraction[decimals] >= '5';
    d.fraction.resize(decimals);
    if (!up)
        return;
    std::string digits = d.integer + d.fraction;
    auto i = static_cast<std::ptrdiff_t>(digits.size()) - 1;
    while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9')
        digits[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0)
        ++digits[static_cast<std::size_t>(i)];
    else
        digits.insert(digits.begin(), '1');
    d.integer = digits.substr(0, digits.size() - decimals);
    d.fraction = digits.substr(digits.size() - decimals);
}

} // namespace

QString FormatWithPattern(double value, const QString& pattern)
{
    return FormatWithPatternParts(value, pattern).text;
}

PatternText FormatWithPatternParts(double value, const QString& pattern)
{
    const NumberSection section = findNumberSection(pattern);
    if (section.begin < 0)
        return {pattern, std::nullopt, pattern.trimmed()};

    if (!std::isfinite(value))
        value = 0;
    Decimal d = decimalOf(std::fabs(value));
    if (pattern.contains(u'%'))
        timesHundred(d);
    roundTo(d, static_cast<std::size_t>(section.fractionZeros + section.fractionHashes));

    // Optional decimals drop their trailing zeros.
    while (d.fraction.size() > static_cast<std::size_t>(section.fractionZeros) && d.fraction.back() == '0')
        d.fraction.pop_back();
    // Integer digits: the significant ones, at least as many as the pattern's '0' positions.
    const auto firstSignificant = d.integer.find_first_not_of('0');
    std::string integer = firstSignificant == std::string::npos ? std::string() : d.integer.substr(firstSignificant);
    if (integer.size() < static_cast<std::size_t>(section.integerZeros))
        integer.insert(0, static_cast<std::size_t>(section.integerZeros) - integer.size(), '0');

    const bool allZero = (integer + d.fraction).find_first_not_of('0') == std::string::npos;
    std::string number = (value < 0 && !allZero) ? "-" : "";
    number += integer;
    if (section.hasSeparator)
        number += "." + d.fraction;

    PatternText out;
    out.text = pattern.left(section.begin) + QString::fromLatin1(number.data(), static_cast<qsizetype>(number.size()))
        + pattern.mid(section.end);
    out.after = pattern.mid(section.end).trimmed();
    // The number is read back from the very digits written, so it is what the text shows.
    if (!integer.empty() || !d.fraction.empty()) {
        double shown = 0;
        const auto result = std::from_chars(number.data(), number.data() + number.size(), shown);
        if (result.ec == std::errc())
            out.shown = shown;
    }
    return out;
}

} // namespace measure
