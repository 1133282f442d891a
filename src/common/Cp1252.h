#pragma once
// The program's text files are single-byte Windows-1252 ("°" is byte 0xB0, "µ" byte 0xB5).

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>

namespace common {

QString fromCp1252(QByteArrayView bytes);
QByteArray toCp1252(const QString& text);
// True when every character of the text has a byte of its own in Windows-1252.
bool representableInCp1252(const QString& text);
// The locale's decimal separator as its Windows-1252 byte, for files a spreadsheet in that
// locale reads; "." where the locale's separator has no single byte there.
char cp1252DecimalSeparator(const QLocale& locale);

} // namespace common

namespace common {

// A short, printable rendering of bytes taken from a file, for messages: at most 20 characters,
// control bytes shown as "?".
QString printableExcerpt(QByteArrayView bytes);

} // namespace common
