#include "feed/FeedProtocol.h"

namespace feed {

QString socketPath(const QString& directory) { return directory + QLatin1Char('/') + QLatin1String(kSocketName); }
QString fallbackSocketPath(const QString&) { return {}; }
bool fitsSocketAddress(const QString&) { return true; }
QByteArray encodeVisit(const measure::Reading&, std::optional<double>, qint64) { return {}; }
QByteArray encodeState(const StationState&) { return {}; }
QByteArray encodeConfiguration(const StationConfiguration&) { return {}; }
QByteArray encodeError(const QString&) { return {}; }
QByteArray encodeCommand(Command) { return {}; }
FeedMessage parseLine(QByteArrayView) { return {}; }
ParsedCommand parseCommand(QByteArrayView) { return {}; }

} // namespace feed
