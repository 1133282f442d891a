#include "app/StationPanels.h"

#include "app/StationLink.h"
#include "common/Logging.h"
#include "config/MeasurementTypes.h"
#include "feed/FeedProtocol.h"

#include <QDateTime>

#include <utility>

namespace app {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

StationPanels::StationPanels(StationLink& link, QObject* parent)
    : PanelSource(parent)
    , link_(link)
{
    timer_.setObjectName(QStringLiteral("Minuterie1"));
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &StationPanels::tick);
    connect(&link_, &StationLink::connectedChanged, this, &StationPanels::connectedChanged);
    connect(&link_, &StationLink::visited, this, &StationPanels::visited);
    connect(&link_, &StationLink::stateChanged, this, &StationPanels::stateChanged);
    connect(&link_, &StationLink::configurationChanged, this, &StationPanels::configurationChanged);
}

bool StationPanels::configurationKnown() const
{
    return link_.configuration().has_value();
}

bool StationPanels::selected(int channel) const
{
    const auto& configuration = link_.configuration();
    return configuration && configuration->channels.at(static_cast<size_t>(channel)).selected;
}

int16_t StationPanels::measurementType(int channel) const
{
    const auto& configuration = link_.configuration();
    if (!configuration)
        return config::TypeNone;
    const int type = configuration->channels.at(static_cast<size_t>(channel)).type;
    return config::isMeasurementType(type) ? static_cast<int16_t>(type) : int16_t{config::TypeNone};
}

QString StationPanels::channelLabel(int channel) const
{
    const auto& configuration = link_.configuration();
    if (!configuration)
        return {};
    // Built as the configuration builds the captions of the window that measures itself.
    QString label = configuration->channels.at(static_cast<size_t>(channel)).tag;
    if (measurementType(channel) == config::TypeFlow)
        label += QStringLiteral("\r\nDaily totalization\r\nTotalization");
    return label;
}

const diagnostics::ChannelCounters* StationPanels::counters(int channel) const
{
    return link_.state() ? &link_.counters().channel(channel) : nullptr;
}

QString StationPanels::titleSuffix() const
{
    return QStringLiteral(" - values from the station service");
}

void StationPanels::open()
{
    link_.start();
    lastHeardMs_ = nowMs();
    if (!link_.connected())
        setNotice(QStringLiteral("Connecting to the station service that measures this folder..."));
    else if (link_.state())
        setNotice(portNotice(*link_.state()));
    timer_.start();
}

void StationPanels::stop()
{
    timer_.stop();
}

void StationPanels::tick()
{
    if (!link_.connected()) {
        // Still away after the first attempts: say why, once.
        if (!lossTold_ && !link_.everConnected() && nowMs() - lastHeardMs_ > 3000) {
            lossTold_ = true;
            setNotice(QStringLiteral("The station service measures this folder, but %1. Trying again every second.")
                          .arg(link_.unreachableReason()));
        }
        return;
    }
    // A station that is connected but sends nothing (stopped by a debugger, hung in a cycle that
    // never ends) is as good as gone for what the panels show.
    if (!silent_ && nowMs() - lastHeardMs_ > kSilenceMs) {
        silent_ = true;
        blankPanels();
        setNotice(QStringLiteral("The station service has sent nothing for %1 s: no value shown is live.")
                      .arg(kSilenceMs / 1000));
    }
}

void StationPanels::connectedChanged(bool connected)
{
    lastHeardMs_ = nowMs();
    silent_ = false;
    if (connected) {
        lossTold_ = false;
        setNotice(link_.state() ? portNotice(*link_.state()) : QString());
        return;
    }
    // The station stopped or restarted. Its last values are not shown as if they were live: the
    // panels go blank, as before a first visit, rather than "Out of order", which would say that
    // the instruments failed and is what the history records for them; here nothing is known
    // about them at all. Told once, in the window, and the feed is tried again every second.
    blankPanels();
    if (!lossTold_) {
        lossTold_ = true;
        qCWarning(lcApp) << "The station service is no longer reachable; reconnecting";
        setNotice(QStringLiteral("The station service stopped or restarted: no value is shown until it is back. "
                                 "Reconnecting..."));
    }
}

void StationPanels::visited(const feed::VisitMessage& visit)
{
    lastHeardMs_ = nowMs();
    if (std::exchange(silent_, false))
        setNotice(link_.state() ? portNotice(*link_.state()) : QString());
    const int channel = visit.reading.channel;
    if (channel < 0 || channel >= static_cast<int>(shown_.size()) || !selected(channel))
        return;
    shown_[static_cast<size_t>(channel)] = visit.reading.shown.text;
    emit valueShown(channel, visit.reading.shown.text);
}

void StationPanels::stateChanged(const feed::StationState& state)
{
    lastHeardMs_ = nowMs();
    silent_ = false;
    setNotice(portNotice(state));
    for (int i = 0; i < static_cast<int>(shown_.size()); ++i)
        emit channelVisited(i);
    if (state.lastCycleMs > 0)
        emit cycleCompleted(state.lastCycleMs);
}

void StationPanels::configurationChanged(const feed::StationConfiguration&)
{
    lastHeardMs_ = nowMs();
    // Another configuration in force: the panels are laid out anew, and what they showed belongs
    // to the previous one until the next visits.
    blankPanels();
    emit layoutChanged();
}

void StationPanels::blankPanels()
{
    for (int i = 0; i < static_cast<int>(shown_.size()); ++i) {
        if (shown_[static_cast<size_t>(i)].isEmpty())
            continue;
        shown_[static_cast<size_t>(i)].clear();
        emit valueShown(i, QString());
    }
}

void StationPanels::setNotice(const QString& text)
{
    if (text == notice_)
        return;
    notice_ = text;
    emit noticeChanged(text);
}

QString StationPanels::portNotice(const feed::StationState& state) const
{
    if (state.portOpen)
        return {};
    return QStringLiteral("The station service cannot use %1 (%2)%3: its channels show \"Out of order\".")
        .arg(state.port, state.device,
             state.portProblem.isEmpty() ? QString() : QStringLiteral(" - ") + state.portProblem);
}

} // namespace app
