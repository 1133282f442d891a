#pragma once
// Late replies. A station that answers only after the reply limit has run out would be taken for
// answering the program's next request to it. A reply names its station but not the registers
// it holds, so the late reply for one block of a station cannot be told from the reply for its
// other block (a "Master" and an "Ext." channel on one address). So once a station has left a
// request unanswered, the next request to it for other registers goes out only when the late
// reply has come or the limits' lateReplyMs since the time-out have passed; what comes meanwhile
// is thrown away. A late reply to a request for the same registers is no danger: it holds what
// was asked for.
//
// Late replies that come at other moments (while another station is asked, or between two
// exchanges) are recognised for a while after the time-out, so that the diagnostics count them
// for the station that owed them, not as damaged replies of the station being asked.

#include "diagnostics/Exchange.h"
#include "serial/ModbusFrame.h"
#include "serial/ReplyReception.h"

#include <QDeadlineTimer>

#include <map>
#include <optional>
#include <vector>

namespace serial {

class SerialControl;

class LateReplies {
public:
    // Before `request` is written to `port`: waits, when needed, as described above. The station
    // block whose late reply came meanwhile, if one did.
    std::optional<diagnostics::StationBlock> waitBefore(SerialControl& port, const ModbusRequest& request);
    // After the exchange of `request` ended with `outcome`.
    void note(const ModbusRequest& request, ReplyOutcome outcome, const ReplyLimits& limits);
    // Takes out of `bytes` every late reply still owed and recognised there; returns whose they were.
    std::vector<diagnostics::StationBlock> recognise(QByteArray& bytes);

private:
    struct Unanswered {
        ModbusRequest request;
        QDeadlineTimer lateUntil; // the next request for other registers waits until then
        QDeadlineTimer forgetAt;  // recognised until then
    };
    void forgetExpired();
    std::map<int16_t, Unanswered> byStation_;
};

} // namespace serial
