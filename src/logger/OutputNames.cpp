#include "logger/OutputNames.h"

#include "common/Cp1252.h"

namespace logger {

namespace {

constexpr qsizetype kChannelNameLength = 15;
const QString kExtension = QStringLiteral(".xls");

bool allowedInFileName(QChar c)
{
    const char16_t code = c.unicode();
    if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
        return false;
    return !QStringView(u"/\\:*?\"<>|").contains(c);
}

} // namespace

QString ChannelName(const QByteArray& nameField)
{
    QString name = common::fromCp1252(QByteArrayView(nameField).first(qMin(nameField.size(), kChannelNameLength)));
    qsizetype begin = 0;
    qsizetype end = name.size();
    while (begin < end && name[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && name[end - 1] == QLatin1Char(' '))
        --end;
    return name.mid(begin, end - begin);
}

QString SafeFileName(const QString& name)
{
    QString safe = name;
    for (QChar& c : safe) {
        if (!allowedInFileName(c))
            c = QLatin1Char('_');
    }
    qsizetype dots = 0;
    while (dots < safe.size() && safe[dots] == QLatin1Char('.'))
        ++dots;
    return safe.mid(dots);
}

QString OutputFileName(const QString& typeName, const QString& channelName)
{
    return SafeFileName(typeName + QLatin1Char('_') + channelName + kExtension);
}

QString SecondChannelFileName(const QString& firstFileName, const QString& secondFileName)
{
    if (firstFileName.compare(secondFileName, Qt::CaseInsensitive) != 0)
        return secondFileName;
    return secondFileName.chopped(kExtension.size()) + QStringLiteral("_2") + kExtension;
}

} // namespace logger
