#include "alarms/PanelAlarms.h"

namespace alarms {

measure::PanelAlarm panelAlarmOf(const std::vector<Alarm>& list, int input)
{
    measure::PanelAlarm look;
    for (const Alarm& alarm : list) {
        if (alarm.input != input || !alarm.active())
            continue;
        if (isSevere(alarm.kind))
            look.colour = measure::AlarmColour::Red;
        else if (look.colour == measure::AlarmColour::None)
            look.colour = measure::AlarmColour::Amber;
        look.blinking = look.blinking || !alarm.acknowledged();
    }
    return look;
}

} // namespace alarms
