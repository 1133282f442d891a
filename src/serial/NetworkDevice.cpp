#include "serial/NetworkDevice.h"

#include "common/Numbers.h"

namespace serial {

namespace {

constexpr QLatin1StringView kRawScheme("rtu+tcp://");
constexpr QLatin1StringView kModbusScheme("modbus+tcp://");

std::optional<NetworkDevice> fail(QString* problem, const QString& why)
{
    if (problem != nullptr)
        *problem = why;
    return std::nullopt;
}

bool hostCharactersAllowed(const QString& host)
{
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' || c == u':'))
            return false;
    }
    return true;
}

} // namespace

bool isNetworkDevice(const QString& device)
{
    return device.startsWith(kRawScheme, Qt::CaseInsensitive) || device.startsWith(kModbusScheme, Qt::CaseInsensitive);
}

std::optional<NetworkDevice> parseNetworkDevice(const QString& device, QString* problem)
{
    NetworkDevice parsed;
    QString rest;
    if (device.startsWith(kRawScheme, Qt::CaseInsensitive)) {
        parsed.mode = NetworkMode::RawRtu;
        rest = device.mid(kRawScheme.size());
    } else if (device.startsWith(kModbusScheme, Qt::CaseInsensitive)) {
        parsed.mode = NetworkMode::ModbusTcp;
        rest = device.mid(kModbusScheme.size());
    } else {
        return fail(problem, QStringLiteral("does not begin with rtu+tcp:// or modbus+tcp://"));
    }
    if (rest.endsWith(u'/'))
        rest.chop(1); // "rtu+tcp://host:4001/" is how some people write it
    qsizetype colon = -1;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(problem, QStringLiteral("has a \"[\" without its \"]\""));
        parsed.host = rest.mid(1, close - 1);
        if (close + 1 >= rest.size() || rest[close + 1] != u':')
            return fail(problem, QStringLiteral("has no port number (HOST:PORT)"));
        colon = close + 1;
    } else {
        colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return fail(problem, QStringLiteral("has no port number (HOST:PORT)"));
        parsed.host = rest.left(colon);
        if (parsed.host.contains(u':'))
            return fail(problem, QStringLiteral("has an IPv6 address that is not in brackets ([::1]:502)"));
    }
    if (parsed.host.isEmpty())
        return fail(problem, QStringLiteral("has no host name"));
    if (!hostCharactersAllowed(parsed.host))
        return fail(problem, QStringLiteral("has a host name with characters no host name holds"));
    const auto port = common::parseWholeNumber<int>(rest.mid(colon + 1).toLatin1());
    if (!port || *port < 1 || *port > 65535)
        return fail(problem, QStringLiteral("has a port number that is not 1 to 65535"));
    parsed.port = static_cast<uint16_t>(*port);
    return parsed;
}

QString networkDeviceText(const NetworkDevice& device)
{
    const QString host = device.host.contains(u':') ? u'[' + device.host + u']' : device.host;
    return (device.mode == NetworkMode::RawRtu ? QString(kRawScheme) : QString(kModbusScheme)) + host + u':'
        + QString::number(device.port);
}

} // namespace serial
