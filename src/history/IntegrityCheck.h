#pragma once
// SQLite's quick_check of "history.sqlite" in a thread of its own, through a read-only connection
// of its own: damage in pages the recorder never reads (old readings, the minutes, an index) is
// found at start and once a day, and the measurement never waits for it (a check of a year of
// readings reads gigabytes). A check still running when the recorder stops is interrupted.

#include <QString>

#include <future>
#include <mutex>
#include <optional>

namespace history {

class IntegrityCheck {
public:
    struct Result {
        bool damaged = false;
        QString reason; // what the check found (or why it could not run), for messages
    };

    IntegrityCheck() = default;
    ~IntegrityCheck();
    IntegrityCheck(const IntegrityCheck&) = delete;
    IntegrityCheck& operator=(const IntegrityCheck&) = delete;

    // Starts a check of the file at `path` unless one is running.
    void start(const QString& path);
    bool running() const { return result_.valid(); }
    // The result once the check has ended (once); nothing while it runs or when none ran.
    std::optional<Result> takeResult();
    // Interrupts a running check and waits for its thread.
    void cancel();

private:
    // What the check's thread and cancel() share, under `mutex`.
    struct Shared {
        std::mutex mutex;
        void* handle = nullptr; // the check's connection, for sqlite3_interrupt
        bool cancelled = false;
    };

    std::future<Result> result_;
    Shared shared_;
};

} // namespace history
