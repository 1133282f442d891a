#pragma once
// What became of the history file the recorder has open. SQLite keeps writing into the file it
// opened whatever happens to its name: after an `rm`, a `mv` over it or a `truncate`, every later
// reading would go into a file nobody can see. The recorder looks at the name every second or so
// (a stat and the first 16 bytes, far cheaper than a cycle) and starts again when it changed.

#include "common/SafeFiles.h"

#include <QString>

namespace history {

enum class FileChange {
    None,
    Removed,   // nothing at the name any more
    Replaced,  // another file at the name
    Truncated, // the file itself emptied or overwritten at its start
};

// Compares the file at `path` with the one the recorder opened (`opened`, taken just after the
// open). Truncated: emptied, or its first bytes are no SQLite header any more.
FileChange checkHistoryFile(const QString& path, const common::FileIdentity& opened);

// False when something at `path` is not an SQLite database (nothing, or an empty file, is one
// SQLite can start).
bool holdsDatabase(const QString& path);

// "was removed", "was replaced by another file", ... for messages.
QString describe(FileChange change);

} // namespace history
