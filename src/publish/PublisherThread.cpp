#include "publish/PublisherThread.h"

#include <memory>

namespace publish {

PublisherThread::PublisherThread(Publisher::Options options, QObject* parent)
    : QObject(parent)
{
    status_.enabled = true;
    status_.destination = options.settings.destination();
    thread_.setObjectName(QStringLiteral("zentlog-publish"));
    thread_.start();
    inThread_ = new QObject;
    inThread_->moveToThread(&thread_);
    // Made in its thread: its database connection, sockets and timers belong there.
    auto shared = std::make_shared<Publisher::Options>(std::move(options));
    QMetaObject::invokeMethod(
        inThread_,
        [this, shared] {
            publisher_ = new Publisher(std::move(*shared), inThread_);
            connect(publisher_, &Publisher::statusChanged, inThread_, [this] {
                const PublishStatus status = publisher_->status();
                QMetaObject::invokeMethod(
                    this,
                    [this, status] {
                        status_ = status;
                        emit statusChanged(status_);
                    },
                    Qt::QueuedConnection);
            });
            connect(publisher_, &Publisher::fault, this, &PublisherThread::fault, Qt::QueuedConnection);
        },
        Qt::BlockingQueuedConnection);
    // Not waited for: the start reads the history, which a viewer may hold locked for a while.
    QMetaObject::invokeMethod(inThread_, [this] { publisher_->start(); }, Qt::QueuedConnection);
}

PublisherThread::~PublisherThread()
{
    // The publisher says goodbye to the broker and keeps what it acknowledged, in its own thread.
    QMetaObject::invokeMethod(
        inThread_,
        [this] {
            delete publisher_;
            publisher_ = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete inThread_; // its thread has ended
}

void PublisherThread::cycleRecorded(std::vector<measure::Reading> readings)
{
    auto shared = std::make_shared<std::vector<measure::Reading>>(std::move(readings));
    QMetaObject::invokeMethod(
        inThread_, [this, shared] { publisher_->cycleRecorded(std::move(*shared)); }, Qt::QueuedConnection);
}

void PublisherThread::alarmEvent(const alarms::AlarmEvent& event)
{
    QMetaObject::invokeMethod(inThread_, [this, event] { publisher_->alarmEvent(event); }, Qt::QueuedConnection);
}

} // namespace publish
