#include "serial/SerialSettings.h"

namespace serial {

QByteArray stopBitsTextFor(int16_t stopIndex)
{
    return " " + QByteArray::number(stopIndex + 1);
}

void SerialSettings::deriveTexts()
{
    rateText = rateIndex >= 0 && rateIndex < 3 ? rateTexts[static_cast<size_t>(rateIndex)] : QByteArray();
    parityLetter = parityIndex >= 0 && parityIndex < 4 ? parityLetters[static_cast<size_t>(parityIndex)]
                                                       : QByteArray();
    dataBitsText = "8";
    stopBitsText = stopBitsTextFor(stopIndex);
}

QByteArray SerialSettings::settingsString() const
{
    return rateText + "," + parityLetter + "," + dataBitsText + "," + stopBitsText;
}

SerialSettings SerialSettings::defaults()
{
    SerialSettings settings;
    settings.portNumber = 1;
    settings.deriveTexts();
    return settings;
}

} // namespace serial
