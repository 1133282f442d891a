#pragma once
// The serial line settings: four stored positions and the texts of the settings string that
// derive from them.

#include <QByteArray>

#include <array>
#include <cstdint>

namespace serial {

inline const std::array<QByteArray, 4> parityLetters{"n", "e", "o", ""};
inline const std::array<QByteArray, 3> rateTexts{"9600", "4800", "2400"};

struct SerialSettings {
    int16_t portNumber = 0; // 1..4 (0 before anything is loaded)
    int16_t rateIndex = 0;  // 9600, 4800, 2400
    int16_t parityIndex = 0; // none, even, odd
    int16_t stopIndex = 0;   // 1 or 2 stop bits

    QByteArray rateText;
    QByteArray parityLetter;
    QByteArray dataBitsText;
    QByteArray stopBitsText;

    // Sets the four texts from the four positions.
    void deriveTexts();
    // The settings string, rate, parity, data bits and stop bits: "9600,n,8, 1".
    QByteArray settingsString() const;

    // The positions a user gets when nothing usable is stored: COM1, 9600, no parity, 1 stop bit.
    static SerialSettings defaults();
};

// The decimal text of the stop-bit count with its leading blank: " 1" or " 2".
QByteArray stopBitsTextFor(int16_t stopIndex);

} // namespace serial
