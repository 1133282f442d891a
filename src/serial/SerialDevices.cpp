#include "serial/SerialDevices.h"

#include "common/Numbers.h"
#include "serial/PortDevices.h"

#include <QByteArrayList>


namespace serial {

QString deviceForPort(int port)
{
    if (port < 1 || port > kChoosablePorts)
        return {};
    if (QString overridden = environmentDevice(port); !overridden.isEmpty())
        return overridden;
    if (const QString& chosen = chosenDevices().devices[static_cast<size_t>(port - 1)]; !chosen.isEmpty())
        return chosen;
    return defaultDevice(port);
}

namespace {
std::optional<int> toInt(const QByteArray& text)
{
    return common::parseWholeNumber<int>(text);
}
} // namespace

std::optional<LineSettings> parseSettingsString(const QByteArray& settings)
{
    const QByteArrayList fields = settings.split(',');
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings line;
    const auto baud = toInt(fields[0]);
    const QByteArray parity = fields[1].trimmed().toLower();
    const auto dataBits = toInt(fields[2]);
    const auto stopBits = toInt(fields[3]);
    if (!baud || *baud <= 0 || parity.size() != 1 || !QByteArray("neoms").contains(parity[0]) || !dataBits
        || *dataBits < 5 || *dataBits > 8 || !stopBits || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;
    line.baudRate = *baud;
    line.parity = parity[0];
    line.dataBits = *dataBits;
    line.stopBits = *stopBits;
    return line;
}

} // namespace serial
