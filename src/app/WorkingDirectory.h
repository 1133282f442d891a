#pragma once
// The folder the program works in: "config.txt", "PortCom.dat", "zentlog.ini", the history and
// the extraction files all live in the current directory. Started from a terminal in a folder
// that holds "config.txt", that folder is meant; started from the desktop menu the current
// directory is the home folder or "/", and the program's own data folder is meant instead.

#include <QString>

namespace app {

// The environment variable that names the working directory, like the option --workdir.
inline constexpr char kWorkdirVariable[] = "ZENTLOG_WORKDIR";

struct WorkingDirectoryRequest {
    QString option;      // --workdir DIR, empty when not given
    QString environment; // ZENTLOG_WORKDIR, empty when not set
    QString current;     // the current directory at start
    QString dataFolder;  // the program's data folder (defaultDataFolder())
};

struct WorkingDirectory {
    QString path;    // absolute; empty when `error` says why there is none
    QString error;   // a sentence for the user, naming the folder
    bool created = false; // the data folder did not exist and was made
};

// ~/.local/share/zentlog on Linux ($XDG_DATA_HOME/zentlog when that is set), the local
// application data folder elsewhere.
QString defaultDataFolder();

// --workdir first, then ZENTLOG_WORKDIR: an existing directory, never created (a mistyped name
// must not quietly start an empty installation). Otherwise the current directory when it holds
// "config.txt", otherwise the data folder, created if missing. Nothing is ever removed or
// replaced: a file standing where the data folder should be is an error.
WorkingDirectory chooseWorkingDirectory(const WorkingDirectoryRequest& request);

// The program's start: chooses the folder from `option` (--workdir), ZENTLOG_WORKDIR, the current
// directory and the data folder, and makes it the current directory. `error` says why not.
WorkingDirectory enterWorkingDirectory(const QString& option);

} // namespace app
