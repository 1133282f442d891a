#include "serial/SerialPort.h"

#include "serial/SerialControl.h"

namespace serial {

bool ApplySerialSettings(const SerialSettings& settings, SerialControl& port)
{
    return port.setSettings(settings.settingsString());
}

bool OpenSerialPort(const SerialSettings& settings, SerialControl& port)
{
    port.setCommPort(settings.portNumber);
    if (!ApplySerialSettings(settings, port))
        return false;
    port.setInputLen(0);
    return port.setPortOpen(true);
}

void CloseSerialPort(SerialControl& port)
{
    port.setPortOpen(false);
}

} // namespace serial
