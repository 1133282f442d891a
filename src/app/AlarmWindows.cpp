// The application's alarm windows and the panels' rings: the alarms of the window's own
// measurement, or of the station service while it measures the folder.

#include "app/Application.h"

#include "alarms/AlarmSettingsWindow.h"
#include "alarms/AlarmsWindow.h"
#include "alarms/PanelAlarms.h"
#include "app/AlarmService.h"
#include "app/StationLink.h"
#include "app/ZENTLOG.h"
#include "config/ChannelConfiguration.h"

#include <QCoreApplication>

namespace app {

alarms::AlarmsWindow* Application::alarmsWindow() const
{
    return alarms_.data();
}

alarms::AlarmSettingsWindow* Application::alarmSettingsWindow() const
{
    return alarmSettings_.data();
}

bool Application::alarmsOfStation() const
{
    if (measurement_)
        return viewing_;
    // Nothing measures in this program: the station's alarms when it is there (its link, once
    // made, says so without asking the socket again).
    return station_ ? station_->connected() || stationMeasuresHere() : stationMeasuresHere();
}

std::vector<alarms::Alarm> Application::currentAlarms() const
{
    return alarmsFrom(alarmsOfStation());
}

std::vector<alarms::Alarm> Application::alarmsFrom(bool ofStation) const
{
    if (ofStation)
        return station_ ? station_->alarms() : std::vector<alarms::Alarm>{};
    const AlarmService* service = outputs_.alarms();
    if (!service)
        return {};
    std::vector<alarms::Alarm> list = service->alarms();
    const std::vector<alarms::Alarm> recent = service->recent();
    list.insert(list.end(), recent.begin(), recent.end());
    return list;
}

void Application::showAlarmState()
{
    if (measurement_) {
        // A station out of reach rings nothing: nothing is known about its inputs now.
        const bool known = !viewing_ || (station_ && station_->connected());
        const std::vector<alarms::Alarm> list = known ? alarmsFrom(viewing_) : std::vector<alarms::Alarm>{};
        for (int input = 0; input < alarms::kInputCount; ++input)
            measurement_->showAlarm(input, alarms::panelAlarmOf(list, input));
    }
    if (alarms_) {
        alarms_->refresh();
        QString notice;
        if (alarmsWindowOfStation_ && (!station_ || !station_->connected()))
            notice = QStringLiteral("The station service cannot be reached: %1. The list is as it last sent it.")
                         .arg(station_ ? station_->unreachableReason() : QStringLiteral("not connected yet"));
        else if (!alarmsWindowOfStation_ && !outputs_.alarms())
            notice = QStringLiteral("No measurement runs: alarms are raised and listed while the measurement runs.");
        alarms_->setNotice(notice);
    }
    emit alarmsChanged();
}

void Application::showAlarms()
{
    const bool ofStation = alarmsOfStation();
    if (alarms_ && alarmsWindowOfStation_ != ofStation)
        delete alarms_.data();
    if (!alarms_) {
        alarmsWindowOfStation_ = ofStation;
        alarms::AlarmsWindow::Services services{[this, ofStation] { return alarmsFrom(ofStation); }, {}, {}, windowTitlePrefix()};
        if (ofStation) {
            StationLink& link = linkToStation();
            link.start();
            services.acknowledge = [&link](qint64 id) { link.acknowledge(id); };
            services.acknowledgeAll = [&link] { link.acknowledgeAll(); };
            services.titleSuffix = QStringLiteral(" - alarms of the station service");
        } else {
            services.acknowledge = [this](qint64 id) {
                if (AlarmService* service = outputs_.alarms())
                    service->acknowledge(id);
            };
            services.acknowledgeAll = [this] {
                if (AlarmService* service = outputs_.alarms())
                    service->acknowledgeAll();
            };
        }
        alarms_ = new alarms::AlarmsWindow(std::move(services));
        alarms_->setAttribute(Qt::WA_DeleteOnClose);
    }
    showAlarmState();
    alarms_->Form_Load();
}

void Application::showAlarmSettings()
{
    if (!alarmSettings_) {
        alarms::AlarmSettingsWindow::Services services{dialogs_, directory_, windowTitlePrefix()};
        // The tags and the inputs measured, once the configuration is there (reading it here
        // would load it).
        if (channels_.isLoaded()) {
            for (int i = 0; i < alarms::kInputCount; ++i) {
                services.chosen[static_cast<size_t>(i)] = channels_.selected(i) == 1;
                if (services.chosen[static_cast<size_t>(i)])
                    services.tags[static_cast<size_t>(i)] = channels_.tag(i);
            }
        }
        alarmSettings_ = new alarms::AlarmSettingsWindow(services, &mainWindow());
        alarmSettings_->setAttribute(Qt::WA_DeleteOnClose);
        connect(alarmSettings_, &alarms::AlarmSettingsWindow::saved, this, [this] {
            // New limits apply at once: in the window's measurement, or in the station's.
            if (measurement_ && !viewing_) {
                outputs_.reload(false);
            } else if (stationMeasuresHere()) {
                StationLink& link = linkToStation();
                if (link.connected()) {
                    link.reload();
                } else {
                    link.start();
                    connect(&link, &StationLink::connectedChanged, this, [&link](bool connected) {
                        if (connected)
                            link.reload();
                    }, Qt::SingleShotConnection);
                }
            }
        });
    }
    alarmSettings_->Form_Load();
}

} // namespace app
