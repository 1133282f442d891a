#pragma once
// Whole-field integers in the program's text formats: blanks around the number are allowed,
// anything else in the field makes it no number.

#include <QByteArrayView>

#include <charconv>
#include <optional>

namespace common {

template <typename Integer>
std::optional<Integer> parseWholeNumber(QByteArrayView field)
{
    const QByteArrayView text = field.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    Integer value{};
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    return value;
}

} // namespace common
