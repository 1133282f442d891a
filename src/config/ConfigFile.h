#pragma once
// "config.txt": ten CR LF lines holding the four channels, read back as one sequence of fields:
// a field ends at a comma or at the end of a line, a quoted text runs to its closing quote, and
// line breaks mean nothing else.

#include "config/ChannelConfig.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <array>

namespace config {

inline constexpr const char* kConfigFileName = "config.txt";
// A real configuration is a few hundred bytes; a file larger than this is not one.
inline constexpr qint64 kConfigFileMaxBytes = 64 * 1024;

using Channels = std::array<ChannelConfig, kChannelCount>;

struct ConfigParse {
    Channels channels{};   // the empty configuration when malformed
    bool malformed = false; // the file cannot be read as the ten-line layout
    QStringList problems;   // for the user; values out of range have been replaced by the empty value
};

QByteArray serializeConfig(const Channels& channels);
ConfigParse parseConfig(QByteArrayView bytes);

} // namespace config
