#pragma once
// The numbers a value text shows, for comparing a reading's numbers with its text.

#include <QString>

#include <vector>

namespace testing_support {

// Digits not glued to a letter (the 3 of "m3/h" is part of a unit), in the order they stand.
std::vector<double> numbersIn(const QString& text);

} // namespace testing_support
