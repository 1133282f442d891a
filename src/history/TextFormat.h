#pragma once
// How a panel text is made again from its numbers: an SQLite printf() format, found from the text
// and checked with SQLite's own printf, so that the `readings` view gives back exactly the text
// that was shown. A text that does not come back exactly has no format and is kept as it is.

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace history {

// The numbers printf() gets, in the view's order: value, temperature or value2, total_day, total.
using FormatArguments = std::array<std::optional<double>, 4>;

struct TextFormat {
    QByteArray format; // UTF-8, for SQLite's printf()
    // Decimals the format shows of each argument (-1: the argument is not shown).
    std::array<int, 4> decimals{-1, -1, -1, -1};
};

// SQLite's printf() of `format` with `arguments` (absent ones as 0), as the view computes it.
QByteArray renderText(const QByteArray& format, const FormatArguments& arguments);

// The format that gives `text` back from `arguments`, or none. Every argument present is shown,
// in order, none after an absent one, and the literal parts hold no number of their own (a text
// whose words carry changing digits would make a format per reading).
std::optional<TextFormat> findTextFormat(const QString& text, const FormatArguments& arguments);

} // namespace history
