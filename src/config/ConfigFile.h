#pragma once
// "config.txt": ten CR LF lines holding the four channels, read back as one flat sequence of
// comma-separated fields (quoted texts run to their closing quote, line breaks mean nothing).

#include "config/ChannelConfig.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <array>

namespace config {

inline constexpr const char* kConfigFileName = "config.txt";

using Channels = std::array<ChannelConfig, kChannelCount>;

struct ConfigParse {
    Channels channels{};   // the empty configuration when malformed
    bool malformed = false; // the file cannot be read as the ten-line layout
    QStringList problems;   // for the user; values out of range have been replaced by the empty value
};

QByteArray serializeConfig(const Channels& channels);
ConfigParse parseConfig(QByteArrayView bytes);

} // namespace config
