#pragma once
// One MQTT message as the publisher hands it to the client.

#include <QByteArray>
#include <QString>

namespace publish {

struct Message {
    QString topic;
    QByteArray payload;
    int qos = 1;
    bool retain = false;
};

} // namespace publish
