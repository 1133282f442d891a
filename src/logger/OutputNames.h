#pragma once
// The names of the extraction's output files: type name, "_", channel name, ".xls", made safe
// so that a channel name from a logger file can never point outside the output directory.

#include <QByteArray>
#include <QString>

namespace logger {

// The channel name: the first 15 characters of the 16-byte name field, without leading and
// trailing spaces.
QString ChannelName(const QByteArray& nameField);

// Every character not allowed in a file name (path separators, control characters, NUL and the
// characters Windows refuses) becomes "_", and leading dots are removed.
QString SafeFileName(const QString& name);

// The output file name of a channel.
QString OutputFileName(const QString& typeName, const QString& channelName);

// Channel 2's output file name: "_2" before ".xls" when it would name channel 1's file.
// Names are compared without regard to case, as Windows does, so that both systems write the same files.
QString SecondChannelFileName(const QString& firstFileName, const QString& secondFileName);

} // namespace logger
