#include "app/StationLink.h"

#include "common/Logging.h"
#include "common/MeasurementLock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace app {

StationLink::StationLink(QString directory, QObject* parent)
    : QObject(parent)
    , directory_(std::move(directory))
    , client_(directory_)
{
    connect(&client_, &feed::FeedClient::connectedChanged, this, [this](bool connected) {
        if (connected) {
            everConnected_ = true;
        } else {
            // What the station said before it went describes a station that is no more.
            configuration_.reset();
            state_.reset();
        }
        emit connectedChanged(connected);
    });
    connect(&client_, &feed::FeedClient::visited, this, &StationLink::visited);
    connect(&client_, &feed::FeedClient::stateChanged, this, [this](const feed::StationState& state) {
        state_ = state;
        counters_ = state.counters;
        emit stateChanged(state);
    });
    connect(&client_, &feed::FeedClient::configurationChanged, this,
            [this](const feed::StationConfiguration& configuration) {
                const bool changed = configuration_ != configuration;
                configuration_ = configuration;
                if (changed)
                    emit configurationChanged(configuration);
            });
    connect(&client_, &feed::FeedClient::alarmsReceived, this, [this](const std::vector<alarms::Alarm>& list) {
        // The station's whole list at every connection: what it no longer holds is over, or
        // belongs to a history this window never saw; the ended ones seen here stay as recent.
        std::erase_if(alarms_, [](const auto& entry) { return entry.second.state() != alarms::AlarmState::Normal; });
        for (const alarms::Alarm& alarm : list)
            alarms_[alarm.id] = alarm;
        emit alarmsChanged();
    });
    connect(&client_, &feed::FeedClient::alarmEvent, this, [this](const alarms::AlarmEvent& event) {
        alarms_[event.alarm.id] = event.alarm;
        // Ended alarms are kept as recent ones up to a window's worth; the oldest go first.
        constexpr size_t kRecentKept = 100;
        for (auto it = alarms_.begin(); alarms_.size() > kRecentKept && it != alarms_.end();) {
            if (it->second.state() == alarms::AlarmState::Normal)
                it = alarms_.erase(it);
            else
                ++it;
        }
        emit alarmsChanged();
    });
    connect(&client_, &feed::FeedClient::problem, this,
            [](const QString& text) { qCWarning(lcApp).noquote() << "Station feed:" << text; });
}

std::vector<alarms::Alarm> StationLink::alarms() const
{
    std::vector<alarms::Alarm> list;
    list.reserve(alarms_.size());
    for (const auto& entry : alarms_)
        list.push_back(entry.second);
    return list;
}

QString StationLink::unreachableReason() const
{
    const QFileInfo socket(client_.path());
    const QFileInfo folder(socket.absolutePath());
    if (folder.isDir() && !folder.isExecutable())
        return QStringLiteral("this user may not enter the folder \"%1\" of its feed (only its owner %2 and the group %3 "
                              "may)")
            .arg(QDir::toNativeSeparators(folder.absoluteFilePath()), folder.owner(), folder.group());
    if (!socket.exists())
        return QStringLiteral("its feed \"%1\" is not there").arg(QDir::toNativeSeparators(socket.filePath()));
    if (!socket.isWritable() || !socket.isReadable())
        return QStringLiteral("this user may not connect to its feed \"%1\" (only its owner %2 and the group %3 may)")
            .arg(QDir::toNativeSeparators(socket.filePath()), socket.owner(), socket.group());
    return QStringLiteral("its feed \"%1\" does not answer").arg(QDir::toNativeSeparators(socket.filePath()));
}

bool stationMeasures(const QString& directory)
{
    if (feed::stationServes(directory))
        return true;
    // A lock held by a running zentlog-station: the lock file says which program holds it.
    const QDir folder(directory.isEmpty() ? QDir::currentPath() : directory);
    QLockFile lock(folder.filePath(QString::fromLatin1(common::kMeasurementLockName)));
    qint64 pid = 0;
    QString host;
    QString program;
    if (!lock.getLockInfo(&pid, &host, &program) || program != QLatin1String(common::kStationProgramName))
        return false;
    // A lock left by a station that no longer runs is no station.
#ifdef Q_OS_UNIX
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
#else
    return true;
#endif
}

} // namespace app
