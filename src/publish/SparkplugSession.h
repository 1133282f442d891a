#pragma once
// Sparkplug B for the publisher: the site is an edge node of the group "zentlog", each input a
// device "input0".."input3". Makes the topics and protobuf payloads of the births, data and
// deaths, and keeps what Sparkplug B asks an edge node to keep: the birth/death sequence number
// bdSeq (the NDEATH will and the NBIRTH of one session carry the same value; each new session
// takes the next one, 0..255), the message sequence number seq (0 on NBIRTH, then one more for
// every message of the node and its devices, 255 followed by 0), which devices are born, and the
// metric aliases (fixed per channel and metric, announced in the births, used alone in DDATA).
// Plain C++: no connection, no clock; times come from the readings and the caller.

#include "alarms/Alarm.h"
#include "measure/Reading.h"
#include "publish/Message.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace publish {

inline constexpr char kSparkplugGroupId[] = "zentlog";

class SparkplugSession {
public:
    // `edgeNodeId`: the site as it stands in topics. `qos`: of the births and data (the will,
    // NDEATH, is always QoS 1). `firstBdSeq`: the bdSeq of the first session.
    SparkplugSession(QString edgeNodeId, int qos, std::uint8_t firstBdSeq = 0);

    // The death certificate of the coming (or current) session: the will to set before connecting.
    Message nodeDeath() const;
    // Once connected, and again when a host asks for a rebirth: the NBIRTH (seq 0, the session's
    // bdSeq, the node's metrics, among them "Node Control/Rebirth"). Every device is then born
    // again with its next reading.
    std::vector<Message> births(std::int64_t nowMs);
    // True for an NCMD payload that asks for a rebirth ("Node Control/Rebirth" true); false for
    // anything else, a payload that is no protobuf message included.
    static bool isRebirthRequest(const QByteArray& payload);
    // The connection ended: the next session takes the next bdSeq and every device is born again.
    void sessionEnded();

    // The messages of one reading, in order. `dataIndex` is the index of the DDATA that carries
    // the reading, or -1 when no message carries it (a failed visit of a device already dead).
    // - A device that is not born in this session gets its DBIRTH first (metric names, aliases,
    //   types and the reading's values).
    // - A failed visit is a DDATA with "ok" false, the outcome and the panel text, and null
    //   numbers. When the channel has then been failing for a whole minute (by the readings'
    //   times), a DDEATH follows, and later failed visits send nothing until a valid reading
    //   brings a new DBIRTH.
    // - `historical` readings (backfill) are DDATA whose metrics are flagged is_historical; they
    //   leave the device's live state (born, dead, failing since) alone.
    struct ReadingMessages {
        std::vector<Message> messages;
        int dataIndex = -1;
    };
    ReadingMessages reading(const measure::Reading& reading, bool historical, std::int64_t nowMs);
    // The messages of one alarm event: a DDATA of the input's device with the alarm metrics
    // ("Alarm/id", "Alarm/kind", "Alarm/event", "Alarm/state", "Alarm/value", "Alarm/limit",
    // "Alarm/raised_ms"), at the event's time, flagged is_historical for the backfill; preceded
    // by a DBIRTH without live values when the device is not born (a dead device included: the
    // host must hear of its alarm).
    ReadingMessages alarm(const alarms::AlarmEvent& event, bool historical, std::int64_t nowMs);

    std::uint8_t bdSeq() const { return bdSeq_; }
    // The bdSeq of the coming CONNECT, when the caller keeps it across program restarts (it
    // then sets one before every CONNECT, and sessionEnded()'s count is overridden).
    void setBdSeq(std::uint8_t bdSeq) { bdSeq_ = bdSeq; }
    // The seq the next message will carry.
    std::uint8_t nextSeq() const { return seq_; }

    // Topic of a node message ("NBIRTH", "NDEATH", "NCMD") or, with a device id, of a device message.
    QString topic(const char* messageType, const QString& deviceId = {}) const;

private:
    struct DeviceState {
        bool born = false;
        bool dead = false;
        std::optional<std::int64_t> failingSinceMs;
    };
    std::uint8_t takeSeq();
    Message birth(int channel, const measure::Reading* values, std::int64_t nowMs);

    QString edgeNodeId_;
    int qos_;
    std::uint8_t bdSeq_;
    std::uint8_t seq_ = 0;
    std::array<DeviceState, 4> devices_{};
};

} // namespace publish
