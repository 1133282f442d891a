#pragma once
// The windows' side of the live feed: connects to the station serving a working directory,
// reconnects every second while it is not connected, and hands on what the station sends.

#include "feed/FeedProtocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLocalSocket;

namespace feed {

class SocketName;

class FeedClient final : public QObject {
    Q_OBJECT
public:
    explicit FeedClient(QString directory, QObject* parent = nullptr);
    ~FeedClient() override;

    // Connects now, and again every second while not connected, until stop().
    void start();
    void stop();
    bool connected() const { return connected_; }
    QString path() const { return path_; }

    void resetCounters();
    void reload();
    void acknowledge(qint64 alarmId);
    void acknowledgeAll();

signals:
    void connectedChanged(bool connected);
    void visited(const feed::VisitMessage& visit);
    void stateChanged(const feed::StationState& state);
    void configurationChanged(const feed::StationConfiguration& configuration);
    // One alarm event of the station, and the station's whole list of alarms that are not normal
    // (at every connection).
    void alarmEvent(const alarms::AlarmEvent& event);
    void alarmsReceived(const std::vector<alarms::Alarm>& list);
    // The station's answer to a bad command, or a line from it that could not be read.
    void problem(const QString& text);

private:
    void connectNow();
    void readLines();
    void handle(QByteArrayView line);
    void setConnected(bool connected);
    void send(Command command);

    QString directory_;
    QString path_;
    QLocalSocket* socket_ = nullptr;
    std::unique_ptr<SocketName> name_; // while a connection is being made
    QTimer retry_;
    QByteArray input_;
    bool discarding_ = false; // inside a line over kMaxLineBytes: dropped up to its end
    bool connected_ = false;
};

// Whether a station answers on the socket of `directory` within `timeoutMs` (blocking): the main
// window's choice between measuring itself and viewing the station.
bool stationServes(const QString& directory, int timeoutMs = 300);

} // namespace feed
