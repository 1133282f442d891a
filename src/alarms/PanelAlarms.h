#pragma once
// What an input's panel shows of its alarms: the ring of its most severe active alarm, blinking
// while one of them awaits acknowledgement. An alarm that has cleared rings no more: the value is
// back inside its limits, and the Alarms window lists it until it is acknowledged.

#include "alarms/Alarm.h"
#include "measure/PanelAlarm.h"

#include <vector>

namespace alarms {

measure::PanelAlarm panelAlarmOf(const std::vector<Alarm>& list, int input);

} // namespace alarms
