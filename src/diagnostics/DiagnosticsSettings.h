#pragma once
// The options of "zentlog.ini" (INI format, in the working directory) that concern the line
// diagnostics:
//   [diagnostics]
//   trace=false    write every request and reply to trace-<date>.log in the working directory
// A missing file or key means the default; reading never creates the file.

#include <QString>

namespace common {
class IniFile;
}

namespace diagnostics {

inline constexpr char kSettingsFileName[] = "zentlog.ini";

struct DiagnosticsSettings {
    bool trace = false;
    // What was wrong in the file (a value that is neither true nor false, a file that cannot be
    // read); empty when fine. The defaults stand in for anything unusable.
    QString problem;

    // Reads "zentlog.ini" from `directory` (empty: the working directory).
    static DiagnosticsSettings load(const QString& directory = {});
    // Takes [diagnostics] from a file already read; a damaged file gives the defaults, its damage
    // in `problem`.
    static DiagnosticsSettings load(const common::IniFile& file);
};

} // namespace diagnostics
