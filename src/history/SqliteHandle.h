#pragma once
// The SQLite connection under a Qt SQL connection, for the few calls Qt has no word for
// (interrupting a statement, file controls). Qt's driver is built on this same system library.

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace history {

// Null when `db` is not an open SQLite connection.
inline sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

} // namespace history
