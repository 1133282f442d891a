#pragma once
// Finding out which of COM1..COM4 can be opened, by opening and closing each of them at once.

#include <array>

namespace serial {

class SerialControl;

inline constexpr int kPortCount = 4;

// Element p - 1 tells whether COMp can be used. The probe goes through the program's port while
// it is closed and leaves it closed. A port the program holds open is reported usable and is
// neither probed nor closed; the other ports are then probed through `spare` (a second control),
// or, without one, not probed at all and reported usable. The ports marked in `leave` (held by
// another program that measures with them) are neither probed nor greyed out. The port selection
// is kept.
std::array<bool, kPortCount> ProbePorts(SerialControl& port, SerialControl* spare = nullptr,
                                        const std::array<bool, kPortCount>& leave = {});

} // namespace serial
