#include "TextNumbers.h"

#include <QRegularExpression>

namespace testing_support {

std::vector<double> numbersIn(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("(?<![A-Za-z0-9.])-?[0-9]+(?:\\.[0-9]*)?"));
    std::vector<double> numbers;
    for (auto it = number.globalMatch(text); it.hasNext();)
        numbers.push_back(it.next().captured().toDouble());
    return numbers;
}

} // namespace testing_support
