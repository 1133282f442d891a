#pragma once
// SIGTERM, SIGINT and SIGHUP delivered through the event loop: the handler only writes the
// signal's number into a socket pair, which the event loop reads, so that everything the signal
// asks for happens outside the handler.

#include <QObject>

#include <array>

class QSocketNotifier;

namespace station {

class UnixSignals final : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void terminate(); // SIGTERM or SIGINT
    void reload();    // SIGHUP

private:
    void readSignals();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace station
