#include "publish/BdSeqStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>

#include <utility>

namespace publish {

BdSeqStore::BdSeqStore(QString path)
    : path_(std::move(path))
{
}

std::uint8_t BdSeqStore::take(const QString& destination)
{
    problem_.clear();
    QJsonObject state;
    QFile file(path_);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            problem_ = QStringLiteral("The Sparkplug B state file \"%1\" cannot be read (%2): bdSeq starts again at 0.")
                           .arg(path_, file.errorString());
        } else {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(file.read(64 * 1024), &error);
            if (error.error != QJsonParseError::NoError || !document.isObject())
                problem_ = QStringLiteral("The Sparkplug B state file \"%1\" is damaged (%2): bdSeq starts again at 0 "
                                          "and the file is written anew.")
                               .arg(path_, error.error != QJsonParseError::NoError ? error.errorString()
                                                                                   : QStringLiteral("no JSON object"));
            else
                state = document.object();
        }
    }
    // A number out of range is as good as none: starting at 0 is what a host expects of a new node.
    const int stored = state.value(destination).toInt(-1);
    const auto bdSeq = static_cast<std::uint8_t>(stored >= 0 && stored <= 255 ? stored : 0);
    state.insert(destination, int(static_cast<std::uint8_t>(bdSeq + 1)));

    QSaveFile out(path_);
    const QByteArray bytes = QJsonDocument(state).toJson(QJsonDocument::Compact) + '\n';
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        problem_ = QStringLiteral("The Sparkplug B state file \"%1\" cannot be written (%2): after a restart, bdSeq "
                                  "may repeat a number the broker has seen.")
                       .arg(path_, out.errorString());
    return bdSeq;
}

} // namespace publish
