#include "feed/FeedClient.h"

#include <QLocalSocket>

namespace feed {

FeedClient::FeedClient(QString directory, QObject* parent) : QObject(parent), directory_(std::move(directory)) {}
FeedClient::~FeedClient() = default;
void FeedClient::start() {}
void FeedClient::stop() {}
void FeedClient::resetCounters() {}
void FeedClient::reload() {}
void FeedClient::connectNow() {}
void FeedClient::readLines() {}
void FeedClient::handle(QByteArrayView) {}
void FeedClient::setConnected(bool) {}
void FeedClient::send(Command) {}
bool stationServes(const QString&, int) { return false; }

} // namespace feed
