#include "diagnostics/Outcome.h"

#include <array>
#include <charconv>

namespace diagnostics {

namespace {

struct InvalidWords {
    InvalidReason reason;
    const char* code;
    const char* words;
};

constexpr std::array<InvalidWords, 5> kInvalid{{
    {InvalidReason::Crc, "invalid_crc", "wrong CRC"},
    {InvalidReason::Address, "invalid_address", "reply from another station address"},
    {InvalidReason::Function, "invalid_function", "unexpected function code"},
    {InvalidReason::Length, "invalid_length", "wrong length"},
    {InvalidReason::Noise, "invalid_noise", "bytes that form no frame"},
}};

struct KindWords {
    OutcomeKind kind;
    const char* code;
    const char* words;
};

constexpr std::array<KindWords, 5> kPlainKinds{{
    {OutcomeKind::Value, "value", "value"},
    {OutcomeKind::PortLost, "port_lost", "serial port lost"},
    {OutcomeKind::PortClosed, "port_closed", "serial port not open"},
    {OutcomeKind::NoAddress, "no_address", "no valid station address"},
    {OutcomeKind::NoType, "no_type", "no measurement type"},
}};

constexpr char kExceptionPrefix[] = "exception_";

} // namespace

bool Outcome::requestSent() const
{
    switch (kind) {
    case OutcomeKind::Value:
    case OutcomeKind::NoReply:
    case OutcomeKind::InvalidReply:
    case OutcomeKind::Exception:
    case OutcomeKind::PortLost: return true;
    case OutcomeKind::PortClosed:
    case OutcomeKind::NoAddress:
    case OutcomeKind::NoType: return false;
    }
    return false;
}

QString Outcome::code() const
{
    switch (kind) {
    case OutcomeKind::NoReply: return QStringLiteral("no_reply");
    case OutcomeKind::InvalidReply:
        for (const InvalidWords& w : kInvalid)
            if (w.reason == invalid)
                return QString::fromLatin1(w.code);
        return QStringLiteral("invalid_noise");
    case OutcomeKind::Exception: return QString::fromLatin1(kExceptionPrefix) + QString::number(exceptionCode);
    default:
        for (const KindWords& w : kPlainKinds)
            if (w.kind == kind)
                return QString::fromLatin1(w.code);
    }
    return QStringLiteral("no_reply");
}

QString Outcome::describe() const
{
    switch (kind) {
    case OutcomeKind::NoReply: return QStringLiteral("no reply within %1 ms").arg(limitMs);
    case OutcomeKind::InvalidReply:
        for (const InvalidWords& w : kInvalid)
            if (w.reason == invalid)
                return QStringLiteral("invalid reply: %1").arg(QString::fromLatin1(w.words));
        return QStringLiteral("invalid reply");
    case OutcomeKind::Exception:
        return QStringLiteral("exception %1 (%2)").arg(exceptionCode).arg(exceptionName(exceptionCode));
    default:
        for (const KindWords& w : kPlainKinds)
            if (w.kind == kind)
                return QString::fromLatin1(w.words);
    }
    return {};
}

std::optional<Outcome> Outcome::fromCode(const QString& code)
{
    if (code == QLatin1String("no_reply"))
        return noReply(2000);
    for (const InvalidWords& w : kInvalid)
        if (code == QLatin1String(w.code))
            return invalidReply(w.reason);
    for (const KindWords& w : kPlainKinds)
        if (code == QLatin1String(w.code))
            return of(w.kind);
    if (code.startsWith(QLatin1String(kExceptionPrefix))) {
        const QByteArray digits = code.mid(static_cast<qsizetype>(sizeof kExceptionPrefix - 1)).toLatin1();
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc() && end == digits.data() + digits.size() && !digits.isEmpty() && value >= 0
            && value <= 255)
            return exception(value);
    }
    return std::nullopt;
}

QString exceptionName(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("slave device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("slave device busy");
    case 8: return QStringLiteral("memory parity error");
    case 10: return QStringLiteral("gateway path unavailable");
    case 11: return QStringLiteral("gateway target device failed to respond");
    default: return QStringLiteral("unknown");
    }
}

} // namespace diagnostics
