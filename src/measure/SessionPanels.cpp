#include "measure/SessionPanels.h"

#include "config/ChannelConfiguration.h"
#include "diagnostics/LineCounters.h"
#include "measure/MeasurementFlags.h"
#include "measure/MeasurementSession.h"
#include "serial/SerialDevices.h"
#include "serial/SerialSettings.h"

namespace measure {

SessionPanels::SessionPanels(config::ChannelConfiguration& channels, MeasurementFlags& flags,
                             MeasurementSession& session, const serial::SerialSettings& settings,
                             const diagnostics::LineCounters* counters, QObject* parent)
    : PanelSource(parent)
    , channels_(channels)
    , flags_(flags)
    , session_(session)
    , settings_(settings)
    , counters_(counters)
{
    connect(&session_, &MeasurementSession::valueShown, this, &PanelSource::valueShown);
    connect(&session_, &MeasurementSession::channelVisited, this, [this](int channel) { emit channelVisited(channel); });
    connect(&session_, &MeasurementSession::cycleCompleted, this,
            [this](const std::vector<Reading>&, qint64 milliseconds) { emit cycleCompleted(milliseconds); });
    connect(&session_, &MeasurementSession::stopRequested, this, &PanelSource::stopRequested);
    connect(&session_, &MeasurementSession::portFailed, this, [this](const QString& what) {
        emit portProblem(QStringLiteral("The serial port COM%1 (%2) %3\n\n"
                                        "The channels show \"Out of order\" meanwhile. The program tries the "
                                        "port again every second and carries on by itself once it is back.")
                             .arg(settings_.portNumber)
                             .arg(serial::deviceForPort(settings_.portNumber), what));
    });
    // Tag captions and visibility follow the configuration at once, not only when the window
    // happens to be repainted.
    connect(&channels_, &config::ChannelConfiguration::channelChanged, this, &PanelSource::panelsChanged);
    connect(&channels_, &config::ChannelConfiguration::labelsChanged, this, &PanelSource::panelsChanged);
}

bool SessionPanels::configurationKnown() const
{
    // While the configuration is being loaded or has just been dropped with its window, reading
    // it would load it anew.
    return channels_.isLoaded();
}

bool SessionPanels::selected(int channel) const
{
    return channels_.selected(channel) == 1;
}

int16_t SessionPanels::measurementType(int channel) const
{
    return channels_.measurementType(channel);
}

QString SessionPanels::channelLabel(int channel) const
{
    return channels_.channelLabels()[static_cast<size_t>(channel)];
}

const diagnostics::ChannelCounters* SessionPanels::counters(int channel) const
{
    return counters_ != nullptr ? &counters_->channel(channel) : nullptr;
}

void SessionPanels::open()
{
    session_.ensurePortOpen();
}

QTimer& SessionPanels::timer()
{
    return session_.timer();
}

void SessionPanels::tick()
{
    session_.tick();
}

bool SessionPanels::deferStop()
{
    flags_.StopRequest = flags_.stopMarker;
    return flags_.CycleRunning;
}

void SessionPanels::stop()
{
    session_.stop();
}

bool SessionPanels::cycleRunning() const
{
    return flags_.CycleRunning;
}

} // namespace measure
