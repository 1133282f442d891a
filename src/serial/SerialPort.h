#pragma once
// Opening and closing the program's one serial port with the current settings.

#include "serial/SerialSettings.h"

namespace serial {

class SerialControl;

// Hands the settings string to the port.
bool ApplySerialSettings(const SerialSettings& settings, SerialControl& port);

// Selects the port, applies the settings, asks for whole-buffer reads and opens it.
// Returns false when the port cannot be opened; the port's errorString() says why.
bool OpenSerialPort(const SerialSettings& settings, SerialControl& port);

void CloseSerialPort(SerialControl& port);

} // namespace serial
