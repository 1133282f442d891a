#pragma once
// The command line of zentlog-poll.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace poll {

struct PollOptions {
    QString device;          // --device PATH, or empty
    int16_t port = 1;        // --port COMn
    QByteArray settings = "9600,n,8, 1";
    double address = 0;
    int16_t startRegister = 0; // Master: 0, Ext: 20
    int16_t type = -1;
    bool watch = false;
    int intervalMs = 1000;   // between readings with --watch
    int count = 0;           // readings with --watch; 0: until interrupted
    bool stats = false;      // --stats: one line of counters at the end
    bool trace = false;      // --trace: every frame in hex on standard error
};

// The options from the arguments (without the program name); nothing and a message when they
// are not usable.
std::optional<PollOptions> parsePollOptions(const QStringList& arguments, QString& error);

extern const char* const kPollUsage;

} // namespace poll
