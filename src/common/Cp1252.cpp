#include "common/Cp1252.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace common {

namespace {
constexpr const char* kCodec = "windows-1252";
}

QString fromCp1252(QByteArrayView bytes)
{
    QStringDecoder decoder(kCodec);
    return decoder.decode(bytes);
}

QByteArray toCp1252(const QString& text)
{
    QStringEncoder encoder(kCodec);
    return encoder.encode(text);
}

bool representableInCp1252(const QString& text)
{
    QStringEncoder encoder(kCodec, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError() && fromCp1252(bytes) == text;
}

char cp1252DecimalSeparator(const QLocale& locale)
{
    const QString separator = locale.decimalPoint();
    if (separator.size() == 1 && representableInCp1252(separator)) {
        const QByteArray byte = toCp1252(separator);
        if (byte.size() == 1)
            return byte[0];
    }
    return '.';
}

} // namespace common

namespace common {

QString printableExcerpt(QByteArrayView bytes)
{
    constexpr qsizetype kMax = 20;
    QString text = fromCp1252(bytes.first(qMin(bytes.size(), kMax)));
    for (QChar& c : text) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    if (bytes.size() > kMax)
        text += QStringLiteral("...");
    return text;
}

} // namespace common
