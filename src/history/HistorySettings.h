#pragma once
// The options of "zentlog.ini" (INI format, in the working directory) that concern the history:
//   [history]
//   enabled=true          record every reading into "history.sqlite"
//   retention_days=400    readings older than this are deleted
//   write_interval_seconds=10   readings wait in memory at most this long before they are
//                         written together (0: every cycle); a power cut loses at most that
// A missing file or key means the default; reading never creates the file.

#include <QString>

namespace common {
class IniFile;
}

namespace history {

inline constexpr char kSettingsFileName[] = "zentlog.ini";

struct HistorySettings {
    bool enabled = true;
    int retentionDays = 400;
    int writeIntervalSeconds = 10;
    // What was wrong in the file (a value that is no number, a negative count); empty when fine.
    // The defaults stand in for anything unusable.
    QString problem;

    // Reads "zentlog.ini" from `directory` (empty: the working directory).
    static HistorySettings load(const QString& directory = {});
    // Takes [history] from a file already read; a damaged file gives the defaults, its damage in
    // `problem`.
    static HistorySettings load(const common::IniFile& file);
};

} // namespace history
