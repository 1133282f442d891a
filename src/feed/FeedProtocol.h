#pragma once
// The station's live feed: one compact JSON object per line ("\n"), UTF-8, so that a technician
// can watch it with `socat - UNIX-CONNECT:zentlog-station.sock`. Every line the station sends has
// "kind": "visit" (one channel visit), "state" (port, channels, counters, history, MQTT),
// "configuration" (the configuration in force), "alarm" (one alarm event), "alarms" (every alarm
// that is not normal, in the greeting) or "error" (the answer to a bad command). A client sends
// commands, one object per line: {"command":"reset-counters"}, {"command":"reload"},
// {"command":"acknowledge","id":N} or {"command":"acknowledge-all"}.
// No widgets, no sockets here: only the lines and the socket's path.

#include "alarms/Alarm.h"
#include "diagnostics/LineCounters.h"
#include "measure/Reading.h"
#include "publish/PublishStatus.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace feed {

inline constexpr char kSocketName[] = "zentlog-station.sock";
inline constexpr int kChannelCount = 4;
// A command line longer than this is junk (commands are a few dozen bytes).
inline constexpr qsizetype kMaxCommandBytes = 4096;
// The longest line a client accepts from the station; a state line with every counter and the
// reply-time histograms stays far below.
inline constexpr qsizetype kMaxLineBytes = 1024 * 1024;

// The socket file of the station measuring `directory`: "zentlog-station.sock" in it.
QString socketPath(const QString& directory);
// Whether `path` fits a Unix socket address (108 bytes with its terminating NUL on Linux).
bool fitsSocketAddress(const QString& path);
// Where the socket is when the one in the directory cannot be reached by its path: on Linux the
// same file, through the directory's descriptor ("/proc/self/fd/N/zentlog-station.sock", see
// SocketName); elsewhere a file in the temporary folder named
// "zentlog-station-<first 16 hex digits of the SHA-1 of the canonical directory path>.sock".
QString fallbackSocketPath(const QString& directory);

// One channel visit: the reading as the panel shows it, its reply time (none without a valid
// reply) and when the visit ended (UTC milliseconds).
struct VisitMessage {
    measure::Reading reading;
    std::optional<double> replyMs;
    qint64 endedMs = 0;
};

// What the station reports of itself.
struct StationState {
    qint64 timeMs = 0;         // when the state was taken, UTC milliseconds
    qint64 pid = 0;            // the station's process
    QString port;              // "COM1"
    QString device;            // "/dev/ttyUSB0"
    bool portOpen = false;
    QString portProblem;       // why the port is not open ("cannot be opened: ..."), empty while open
    std::array<bool, kChannelCount> channels{}; // inputs measured (selected, with a measurement type)
    diagnostics::LineCounters counters;
    bool historyOn = false;
    QString history;           // the history's state in words
    publish::PublishStatus mqtt;
    qint64 cycles = 0;         // cycles completed since the start
    qint64 lastCycleMs = 0;    // how long the last cycle took
};

// One input's configuration in force.
struct ChannelSetup {
    bool selected = false;
    QString tag;
    int type = -1;             // the measurement type's index, -1 without one
    QString typeName;
    QString address;           // the station address as stored
    int block = 0;             // the first register read: 0 (master) or 20
    friend bool operator==(const ChannelSetup&, const ChannelSetup&) = default;
};

struct StationConfiguration {
    std::array<ChannelSetup, kChannelCount> channels{};
    int portNumber = 1;
    QString port;              // "COM1"
    QString device;            // "/dev/ttyS0"
    QString settings;          // "9600,N,8,1"
    friend bool operator==(const StationConfiguration&, const StationConfiguration&) = default;
};

enum class Command { ResetCounters, Reload, Acknowledge, AcknowledgeAll };

QByteArray encodeVisit(const measure::Reading& reading, std::optional<double> replyMs, qint64 endedMs);
QByteArray encodeState(const StationState& state);
QByteArray encodeConfiguration(const StationConfiguration& configuration);
QByteArray encodeError(const QString& text);
QByteArray encodeCommand(Command command); // Acknowledge: use encodeAcknowledge
QByteArray encodeAcknowledge(qint64 alarmId);
// {"kind":"alarm","event":"raised","time_ms":N,"alarm":{...}}; the alarm object holds id, input,
// kind, tag, raised_ms, value, limit, acknowledged_ms, cleared_ms (null when none) and state.
QByteArray encodeAlarmEvent(const alarms::AlarmEvent& event);
QByteArray encodeAlarms(const std::vector<alarms::Alarm>& list);

struct FeedMessage {
    enum class Kind { Visit, State, Configuration, Alarm, Alarms, Error, Invalid };
    Kind kind = Kind::Invalid;
    VisitMessage visit;
    StationState state;
    StationConfiguration configuration;
    alarms::AlarmEvent alarmEvent;
    std::vector<alarms::Alarm> alarms;
    QString problem; // Error: the station's text; Invalid: what is wrong with the line
};

// A line from the station (with or without its "\n"). Never throws; junk is Kind::Invalid.
FeedMessage parseLine(QByteArrayView line);

struct ParsedCommand {
    std::optional<Command> command;
    QString problem;     // why the line is no command
    qint64 alarmId = 0;  // Acknowledge: the alarm
};
// A line from a client (with or without its "\n").
ParsedCommand parseCommand(QByteArrayView line);

} // namespace feed
