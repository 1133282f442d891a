#pragma once
// Runs a Publisher in a thread of its own, so that the network (a name lookup, a TLS handshake, a
// broker that does not answer) never holds up the measurement. The readings go to it and its
// status comes back through queued calls.

#include "measure/Reading.h"
#include "publish/PublishStatus.h"
#include "publish/Publisher.h"

#include <QObject>
#include <QThread>

#include <vector>

namespace publish {

class PublisherThread : public QObject {
    Q_OBJECT
public:
    explicit PublisherThread(Publisher::Options options, QObject* parent = nullptr);
    // Stops the publisher (what the broker acknowledged is kept) and ends the thread.
    ~PublisherThread() override;
    PublisherThread(const PublisherThread&) = delete;
    PublisherThread& operator=(const PublisherThread&) = delete;

    void cycleRecorded(std::vector<measure::Reading> readings);
    void alarmEvent(const alarms::AlarmEvent& event);
    // The latest status the publisher reported.
    const PublishStatus& status() const { return status_; }

signals:
    void statusChanged(const publish::PublishStatus& status);
    void fault(const QString& message);

private:
    QThread thread_;
    QObject* inThread_ = nullptr; // lives in thread_; the publisher is its child
    Publisher* publisher_ = nullptr;
    PublishStatus status_;
};

} // namespace publish
