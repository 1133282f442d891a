#pragma once
// Copies the history's write-ahead log back into the file (a PASSIVE checkpoint) in a thread of
// its own, through a connection of its own. The recorder's writes never checkpoint (automatic
// checkpoints are off on its connection): a checkpoint rewrites every page changed since the last
// one, and doing it once every few minutes writes each page once where every cycle's would write
// it again and again. The measurement never waits for it, and readers and the recorder go on
// beside it: a PASSIVE checkpoint copies what no reader still needs and never blocks.

#include <QString>

#include <future>
#include <mutex>
#include <optional>

namespace history {

class Checkpointer {
public:
    struct Result {
        bool complete = false; // every frame of the log is in the file now
        int logFrames = 0;     // frames in the log
        QString problem;       // why it could not run; empty when it ran
    };

    Checkpointer() = default;
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // Starts a checkpoint of the file at `path` unless one runs. The file is never created.
    void start(const QString& path);
    bool running() const { return result_.valid(); }
    // The result once the checkpoint has ended (once); nothing while it runs or when none ran.
    std::optional<Result> takeResult();
    // Interrupts a running checkpoint and waits for its thread (what it copied stays copied).
    void cancel();

private:
    struct Shared {
        std::mutex mutex;
        void* handle = nullptr; // the checkpoint's connection, for sqlite3_interrupt
        bool cancelled = false;
    };

    std::future<Result> result_;
    Shared shared_;
};

} // namespace history
