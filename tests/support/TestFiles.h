#pragma once
// Helpers for tests that work with real files.

#include <QByteArray>
#include <QString>

#include <ostream>

namespace testing_support {

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Hex rendering for readable failure messages: "01 03 00 00".
std::string hex(const QByteArray& bytes);

} // namespace testing_support

// Lets GoogleTest print Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << testing_support::hex(bytes);
}
QT_END_NAMESPACE
