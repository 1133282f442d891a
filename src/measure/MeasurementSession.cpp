#include "measure/MeasurementSession.h"

#include "common/Logging.h"
#include "config/ChannelConfiguration.h"
#include "config/MeasurementTypes.h"
#include "measure/StationReaders.h"
#include "serial/DeviceLock.h"
#include "serial/SerialControl.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <utility>

namespace measure {

MeasurementSession::MeasurementSession(config::ChannelConfiguration& channels, MeasurementFlags& flags,
                                       serial::SerialControl& port, const serial::SerialSettings& settings,
                                       QObject* parent)
    : QObject(parent)
    , channels_(channels)
    , flags_(flags)
    , port_(port)
    , settings_(settings)
    , reader_([this](int16_t type, double address, int16_t startRegister) {
        // The reader decodes into the shared values, and the input's text is made from them
        // before the next input is read.
        ChannelRead read;
        read.exchange = ReadStation(type, port_, address, startRegister, stationValues_, {}, &lateReplies_);
        if (read.exchange.ok())
            read.value = FormatChannelReading(type, stationValues_);
        return read;
    })
    , cycle_(channels, flags,
             [this](int16_t type, double address, int16_t startRegister) {
                 return readChannel(type, address, startRegister);
             },
             [this](int input, const QString& text) { show(input, text); })
{
    cycle_.setVisitSink([this](int input, const diagnostics::Exchange& exchange) { noteVisit(input, exchange); });
    cycle_.setReadingSink([this](const Reading& reading, const diagnostics::Exchange& exchange) {
        emit channelRead(reading, exchange);
    });
    cycle_.setReadingsSink([this](std::vector<Reading> readings) { cycleReadings_ = std::move(readings); });
    timer_.setObjectName(QStringLiteral("Minuterie1"));
    connect(&timer_, &QTimer::timeout, this, &MeasurementSession::tick);
    connect(&port_, &serial::SerialControl::portLost, this, &MeasurementSession::portLost);
}

void MeasurementSession::start()
{
    timer_.setInterval(1000);
    timer_.start();
}

void MeasurementSession::stop()
{
    timer_.stop();
    serial::CloseSerialPort(port_);
    outage_ = false;
    // A window that shows the session later starts from blank panels.
    texts_ = {};
}

ChannelRead MeasurementSession::readChannel(int16_t type, double address, int16_t startRegister)
{
    // Without a port nothing is sent: the visit is recorded as failed for that reason. (A port
    // lost during the cycle is the reader's to report, as it ends the exchange under way.)
    if (withoutPort_)
        return ChannelRead::failed(diagnostics::Outcome::of(diagnostics::OutcomeKind::PortClosed));
    return reader_(type, address, startRegister);
}

void MeasurementSession::tick()
{
    if (flags_.CycleRunning)
        return;
    if (flags_.stopRequested()) {
        emit stopRequested();
        return;
    }
    withoutPort_ = !ensurePortOpen();
    QElapsedTimer elapsed;
    elapsed.start();
    cycle_.RunMeasurementCycle();
    const std::vector<Reading> readings = std::exchange(cycleReadings_, {});
    qCDebug(lcMeasure) << "cycle of" << elapsed.elapsed() << "ms";
    emit cycleCompleted(readings, elapsed.elapsed());
}

void MeasurementSession::noteVisit(int input, const diagnostics::Exchange& exchange)
{
    // A late reply is counted for the input whose request it answered, which may be this one.
    for (const diagnostics::StationBlock& late : exchange.lateReplies) {
        if (const auto owner = requestedBy_.find(late); owner != requestedBy_.end())
            emit lateReplyDiscarded(owner->second, exchange.endedAtMs);
    }
    if (!exchange.request.isEmpty()) {
        const diagnostics::StationBlock block{static_cast<uint8_t>(exchange.request[0]),
                                              (static_cast<uint8_t>(exchange.request[2]) << 8)
                                                  | static_cast<uint8_t>(exchange.request[3])};
        requestedBy_[block] = input;
    }
    emit channelVisited(input, exchange);
}

bool MeasurementSession::ensurePortOpen()
{
    if (port_.PortOpen())
        return true;
    if (serial::OpenSerialPort(settings_, port_)) {
        if (std::exchange(outage_, false))
            emit portRestored();
        return true;
    }
    showOutOfOrder();
    // One report per outage; the next ticks try again quietly until the port is back.
    if (!std::exchange(outage_, true)) {
        QString reason = port_.errorString();
        // A device another program holds: say which, so that the user knows what to stop.
        const auto holder = serial::deviceHolder(serial::deviceForPort(settings_.portNumber));
        if (holder && *holder != QCoreApplication::applicationPid())
            reason += QStringLiteral(" (process %1)").arg(*holder);
        emit portFailed(QStringLiteral("cannot be opened: %1").arg(reason));
    }
    return false;
}

void MeasurementSession::portLost(const QString& reason)
{
    // Whatever the panels show was read before the port went: it is not live any more. This may
    // run inside a reply wait; the cycle then ends its pass with "Out of order" everywhere.
    showOutOfOrder();
    if (!std::exchange(outage_, true))
        emit portFailed(QStringLiteral("stopped working: %1")
                            .arg(reason.isEmpty() ? QStringLiteral("the device went away") : reason));
}

void MeasurementSession::showOutOfOrder()
{
    // The inputs the cycle reads: selected, with a measurement type.
    for (int i = 0; i < kInputCount; ++i) {
        if (channels_.selected(i) == 1 && config::isMeasurementType(channels_.measurementType(i))
            && texts_[static_cast<size_t>(i)] != kOutOfOrder)
            show(i, kOutOfOrder);
    }
}

void MeasurementSession::show(int input, const QString& text)
{
    texts_[static_cast<size_t>(input)] = text;
    emit valueShown(input, text);
}

} // namespace measure
