#pragma once
// How a panel shows the alarms of its input: the colour of the ring around its bezel, and whether
// the ring blinks (an alarm nobody has acknowledged yet). The value text never changes for an alarm.

namespace measure {

enum class AlarmColour {
    None,  // no active alarm
    Amber, // low or high
    Red,   // low_low, high_high, or the input failing
};

struct PanelAlarm {
    AlarmColour colour = AlarmColour::None;
    bool blinking = false;
    friend bool operator==(const PanelAlarm&, const PanelAlarm&) = default;
};

} // namespace measure
