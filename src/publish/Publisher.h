#pragma once
// The publisher: sends every channel visit to an MQTT broker, as JSON or as Sparkplug B, and
// after an outage of any length (broker down, network gone, program restarted) everything the
// broker did not acknowledge, in order and marked as backfill, while live readings keep flowing.
//
// The readings come from a ReadingSource: "history.sqlite" (the recorder writes every cycle
// there, and the publisher reads it back by row id) or, with the history off, a bounded queue in
// memory. What the broker acknowledged is kept with the source, so each reading is sent again only
// as long as no acknowledgement of it was recorded.
//
// The recorder writes in groups (up to its write interval late), so with the history each cycle's
// readings are published at once from the cycle itself, remembered by channel and time; when
// their rows turn up in the file, those the broker acknowledged are marked acknowledged by row id
// instead of being sent again. Rows that match nothing sent so are sent from the file.
//
// Lives in one thread and uses its event loop (the client's sockets and the timers); the
// application runs it in a thread of its own so that the network never holds up the measurement.

#include "alarms/Alarm.h"
#include "measure/Reading.h"
#include "publish/AckedRanges.h"
#include "publish/AlarmEventSource.h"
#include "publish/MqttSettings.h"
#include "publish/PublishStatus.h"
#include "publish/ReadingSource.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace publish {

class BdSeqStore;
class MqttClient;
class SparkplugSession;

// The name under which a source keeps what this broker acknowledged for this site and form.
QString destinationKey(const MqttSettings& settings);

class Publisher : public QObject {
    Q_OBJECT
public:
    struct Options {
        MqttSettings settings;
        // Where relative file names of the settings are taken from (the working directory).
        QString directory;
        // Where the readings come from; null: "history.sqlite" in `directory` when `history`,
        // else a memory queue of `memoryLimit` readings.
        std::unique_ptr<ReadingSource> source;
        bool history = true;
        std::size_t memoryLimit = 28800; // two hours of four channels at one cycle a second
        // Backfill: every `backfillIntervalMs`, up to `backfillBatch` readings, as long as fewer
        // than `backfillInFlight` of them wait for their acknowledgement. Live readings never wait.
        int backfillIntervalMs = 20;
        int backfillBatch = 25;
        int backfillInFlight = 100;
        // What the broker acknowledged is written to the source at most this often (0: with each
        // cycle), and always when the connection ends and at stop(). With the history each save is
        // a synced commit of its own (the measurement saves once a minute), and a crash costs at
        // most this long of readings sent again.
        int saveIntervalMs = 200;
        int reconnectDelayMaxMs = 10000;
        QString clientId; // empty: "zentlog-<site>"
        // The history file is new because the recorder lost the one it had (removed, replaced,
        // damaged): everything recorded in it goes to a broker it has no acknowledgements for,
        // where a first start sends only what comes after it.
        bool sendRecorded = false;
        // When the publisher was made (UTC ms), on the measurement's side. A first start sends
        // what was taken from then on: the publisher's thread reads the history later, after the
        // first cycles may have written readings and raised alarms (0: when it starts).
        qint64 madeMs = 0;
        // Where the alarm events come from; null: the history's, or a memory queue, as `source`.
        std::unique_ptr<AlarmEventSource> alarmSource;
        // The alarms not back to normal when the publisher starts: the retained alarm state of
        // each input (JSON) starts from them.
        std::vector<alarms::Alarm> alarmsNow;
    };

    explicit Publisher(Options options, QObject* parent = nullptr);
    ~Publisher() override;
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts connecting; the publisher reconnects by itself from then on.
    void start();
    // Keeps what the broker acknowledged, says "offline" (JSON) and disconnects cleanly.
    void stop();

    // The readings of one measurement cycle. With the history they are published at once and
    // are, or will be, in the file too (once the recorder writes them); the memory queue takes
    // them here.
    void cycleRecorded(std::vector<measure::Reading> readings);
    // An alarm event of the measurement, as it happens. With the history it is read back from the
    // file (as the readings), so that it is sent once even across a restart; the memory queue
    // takes it here.
    void alarmEvent(const alarms::AlarmEvent& event);

    PublishStatus status() const;
    const MqttSettings& settings() const { return options_.settings; }

signals:
    void statusChanged();
    // Something the user has to act on (the broker refused us, its certificate, the password
    // file), each text once.
    void fault(const QString& message);

private:
    void onConnected();
    void onDisconnected(const QString& reason);
    void onAcknowledged(int mid);
    void onReceived(const QString& topic, const QByteArray& payload);
    void publishLive();
    void backfillStep();
    bool publishReading(const StoredReading& stored, bool backfill);
    // Publishes `reading`: the message id to wait for, 0 when there is nothing to wait for, -1
    // when the client took no message.
    int sendReading(const measure::Reading& reading, bool backfill);
    // Publishes a cycle's readings at once, before the recorder writes them.
    void publishCycle(const std::vector<measure::Reading>& readings);
    // `stored` was published from its cycle: true when it needs no sending from the file (the
    // broker acknowledged it, or its acknowledgement is awaited on this connection).
    bool matchPublished(const StoredReading& stored);
    void publishAlarmsLive();
    void backfillAlarms();
    bool publishAlarmEvent(const StoredAlarmEvent& stored, bool backfill);
    void publishAlarmState(int input);
    QString alarmDestinationKey() const;
    void saveAcked();
    // acked_ or alarmAcked_ changed: saved once the interval has passed.
    void ackedChanged(bool alarm = false);
    // How many readings numbered below `end` the broker has not acknowledged.
    qint64 unackedBefore(qint64 end);
    void report(const QString& message);

    Options options_;
    QString site_;
    std::unique_ptr<ReadingSource> source_;
    MemorySource* memory_ = nullptr; // source_ when it is the memory queue
    MqttClient* client_ = nullptr;   // child
    std::unique_ptr<SparkplugSession> sparkplug_;
    std::unique_ptr<BdSeqStore> bdSeqStore_; // with sparkplug_
    AckedRanges acked_;
    bool ackedDirty_ = false;      // acked_ changed since it was saved
    bool alarmAckedDirty_ = false; // alarmAcked_ changed since it was saved
    QTimer saveTimer_;
    QTimer backfillTimer_;

    bool connected_ = false;
    bool connecting_ = false;
    qint64 liveFrom_ = 0;     // readings numbered from here on are live in this connection
    qint64 liveNext_ = 0;     // the next live reading to publish
    qint64 backfillNext_ = 0; // the next reading of the backlog to look at
    // A reading published from its cycle, before its row (and row id) existed.
    struct CycleKey {
        qint64 timeMs = 0;
        int channel = 0;
        auto operator<=>(const CycleKey&) const = default;
    };
    struct InFlight {
        qint64 seq;
        bool backfill;
        bool alarm = false; // an alarm event rather than a reading
        std::optional<CycleKey> fromCycle = {}; // a reading published from its cycle: no seq yet
    };
    std::map<int, InFlight> inFlight_; // by message id
    int backfillInFlight_ = 0;
    // Readings published from their cycle whose rows have not been read from the file yet, oldest
    // first, with the message id awaited on this connection (0: acknowledged, or nothing to wait
    // for). At most `memoryLimit`: beyond it the oldest are forgotten, and their rows sent from
    // the file again. Only the acknowledged outlive a connection.
    std::map<CycleKey, int> fromCycle_;
    // The newest reading the live side sent from the file: a cycle not newer than it reached the
    // publisher after its rows had (the publisher was behind) and is not published again.
    qint64 liveFromFileMs_ = std::numeric_limits<qint64>::min();

    qint64 sent_ = 0;
    qint64 acknowledgedCount_ = 0;
    qint64 pendingBackfill_ = 0;
    QString lastProblem_;
    QStringList reported_;
    QStringList startProblems_; // found before start(), said by it

    std::unique_ptr<AlarmEventSource> alarmSource_;
    MemoryAlarmEvents* memoryAlarms_ = nullptr; // alarmSource_ when it is the memory queue
    // Events the history could not take (a full disk): sent from here, as they happened.
    std::deque<alarms::AlarmEvent> notInHistory_;
    AckedRanges alarmAcked_;
    qint64 alarmLiveFrom_ = 0;
    qint64 alarmLiveNext_ = 0;
    qint64 alarmBackfillNext_ = 0;
    std::map<qint64, alarms::Alarm> alarmsNow_; // not back to normal, by id
};

} // namespace publish
