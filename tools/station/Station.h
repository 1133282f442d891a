#pragma once
// zentlog-station's service: the measurement of one working directory without a display. It
// measures the inputs of "config.txt" on the port of "PortCom.dat" and "zentlog.ini", records,
// traces and publishes as the measurement window does, applies changes of those files at the next
// cycle, logs what changes (never a line per cycle) and keeps the service manager informed.

#include "SystemdNotify.h"

#include "app/MeasurementOutputs.h"
#include "config/ChannelConfiguration.h"
#include "feed/FeedProtocol.h"
#include "feed/FeedServer.h"
#include "measure/MeasurementFlags.h"
#include "measure/MeasurementSession.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialSettings.h"
#include "ui/Dialogs.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <array>
#include <memory>

class QLockFile;

namespace station {

// Messages meant for a box go to the log: there is nobody to answer, so every question is
// answered No, the answer that destroys nothing.
class LogDialogs final : public ui::Dialogs {
public:
    ui::Answer message(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title) override;
    void notify(const QString& text, ui::Icon icon, const QString& title, QWidget* owner) override;
    void ask(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title,
             std::function<void(ui::Answer)> onAnswer, QWidget* owner) override;
    void beep() override {}
};

// What a settings file looked like when it was last read: a change of any of these means the
// file was written or replaced since.
struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    QDateTime modified;
    QDateTime changed;
    bool operator==(const FileStamp&) const = default;
    static FileStamp of(const QString& path);
};

class Station final : public QObject {
    Q_OBJECT
public:
    explicit Station(QString directory, QObject* parent = nullptr);
    ~Station() override;

    // Takes the folder, loads the settings, opens the port and starts measuring. False when
    // another program measures the folder or holds the device; `refusal` names it.
    bool start(QString* refusal);
    // SIGHUP, or a client of the live feed: every settings file read again before the next cycle.
    void reload(const QString& by = QStringLiteral("SIGHUP"));
    // SIGTERM: the cycle under way ends (its reply wait cut short after 1.5 s), the history
    // commits, the publisher says "offline"; then finished().
    void shutdown();

signals:
    void finished();

private:
    void tick();
    void cycleEnded();
    void visited(int input, const diagnostics::Exchange& exchange);
    void reloadChanged(bool all);
    // At the start there is no previous configuration to keep: the defaults stand in.
    void reloadChannels(bool starting = false);
    void reloadSerial(bool starting = false);
    void reloadIni();
    // The devices of the ports, from "zentlog.ini", in force for every later open.
    void loadPortChoices();
    void finish();
    QString portName() const;
    QString lineSettings() const;
    QString startLine();
    QString statusLine();
    // The live feed: served from the start to the end, on the socket of the working directory.
    void startFeed();
    feed::StationState feedState();
    feed::StationConfiguration feedConfiguration();
    void sendState();
    // Sends the configuration in force when it differs from the one last sent.
    void sendConfiguration();

    enum class InputState { Unknown, Valid, Failing };

    QString directory_;
    LogDialogs dialogs_;
    serial::QtSerialControl port_;
    config::ChannelConfiguration channels_;
    serial::SerialSettings serialSettings_;
    measure::MeasurementFlags flags_;
    measure::MeasurementSession session_;
    app::MeasurementOutputs outputs_;
    SystemdNotify notify_;
    std::unique_ptr<QLockFile> lock_;
    QTimer timer_;
    std::array<InputState, measure::kInputCount> states_{};
    std::array<QString, measure::kInputCount> failures_{};
    // The files read again when they change, and how they looked when last read.
    const QString configPath_;
    const QString portComPath_;
    const QString iniPath_;
    FileStamp configStamp_;
    FileStamp portComStamp_;
    FileStamp iniStamp_;
    QString device_; // the device of the port in force
    feed::FeedServer feed_;
    feed::StationConfiguration sentConfiguration_;
    QString portProblem_; // why the port is not open, while it is not
    qint64 cycles_ = 0;
    qint64 lastCycleMs_ = 0;
    bool reloadAll_ = false; // SIGHUP: every file is read again before the next cycle
    bool stopping_ = false;
};

} // namespace station
