#pragma once
// How one channel visit of the measurement ended: a value, or the reason there was none. The
// panel shows "Out of order" for every failure alike; the reason goes to the history, the
// Diagnostics window, the panel's tooltip, the frame trace and zentlog-poll.

#include <QString>

#include <cstdint>
#include <optional>

namespace diagnostics {

enum class OutcomeKind : uint8_t {
    Value,        // a valid reply came in time
    NoReply,      // nothing usable within the reply limit
    InvalidReply, // bytes came, but no valid reply (see InvalidReason)
    Exception,    // the station answered with an exception reply
    PortLost,     // the port failed during the exchange
    PortClosed,   // the port was not open: nothing was sent
    NoAddress,    // the channel's address is no station address (1..247): nothing was sent
    NoType,       // the channel has no measurement type: nothing was sent
};

// What was wrong with the bytes of an invalid reply.
enum class InvalidReason : uint8_t {
    None,
    Crc,       // a frame of the station whose CRC is wrong
    Address,   // a frame of another station
    Function,  // a frame of the station with a function code that is neither the request's nor its exception
    Length,    // a frame of the station with a wrong byte count, or one that stopped short
    Noise,     // bytes that form no frame at all
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::NoReply;
    InvalidReason invalid = InvalidReason::None; // with InvalidReply
    int exceptionCode = 0;                       // with Exception
    int limitMs = 2000;                          // with NoReply: the limit that ran out

    bool ok() const { return kind == OutcomeKind::Value; }
    // A request went out (the visit counts as a request).
    bool requestSent() const;

    // A stable word for files and scripts: "value", "no_reply", "invalid_crc", "invalid_address",
    // "invalid_function", "invalid_length", "invalid_noise", "exception_2", "port_lost",
    // "port_closed", "no_address", "no_type".
    QString code() const;
    // The reason in words, for people: "no reply within 2000 ms", "invalid reply: wrong CRC",
    // "exception 2 (illegal data address)".
    QString describe() const;
    // The outcome a code() stands for; nothing for an unknown word.
    static std::optional<Outcome> fromCode(const QString& code);

    static Outcome value() { return {OutcomeKind::Value}; }
    static Outcome noReply(int limitMs) { return {OutcomeKind::NoReply, InvalidReason::None, 0, limitMs}; }
    static Outcome invalidReply(InvalidReason reason) { return {OutcomeKind::InvalidReply, reason}; }
    static Outcome exception(int code) { return {OutcomeKind::Exception, InvalidReason::None, code}; }
    static Outcome of(OutcomeKind kind) { return {kind}; }

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// The name of a Modbus exception code ("illegal data address"); "unknown" for a code Modbus
// does not define.
QString exceptionName(int code);

} // namespace diagnostics
