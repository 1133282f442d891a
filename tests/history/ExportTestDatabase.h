#pragma once
// History databases for the export tests: the program's own layout, filled with rows of the test.

#include <QString>
#include <QVariant>

#include <optional>

namespace history_test {

struct Reading {
    qint64 timeMs = 0;
    int channel = 0;
    QString tag;
    QString type;
    bool ok = true;
    QVariant value, unit, temperature, value2, unit2, totalDay, total; // null: NULL
    QString text;
};

// Creates the database at `path` with ensureSchema; false (with a test failure) when it cannot.
class TestDatabase {
public:
    explicit TestDatabase(const QString& path);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // `outcome` empty: NULL, as in rows of the first layout.
    void add(const Reading& reading, const QString& outcome = {});
    // Many rows in one transaction: `count` readings of `channel` one second apart from `firstMs`.
    void addSeries(int channel, qint64 firstMs, int count);

private:
    QString connection_;
};

// Milliseconds of a UTC time written "2026-12-09T03:00:00".
qint64 utcMs(const char* isoUtc);

} // namespace history_test
