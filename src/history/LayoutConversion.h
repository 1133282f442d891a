#pragma once
// Converts a "history.sqlite" of an earlier layout (`readings` a table) into the compact one, in
// place and in slices: each slice of readings is copied into `samples` in a transaction of its
// own, and the last one drops the old table and makes `readings` the view, so that a crash at any
// moment leaves a usable file (the old layout with part of its readings copied, which the next
// run carries on from, or the new one). The ids of the readings stay what they were.
//
// BackgroundConversion runs it in a thread of its own, so that the measurement never waits for it.

#include <QString>

#include <atomic>
#include <functional>
#include <future>

namespace history {

struct ConversionOptions {
    // A slice holds the write lock for about 50 ms: the alarm store's writes wait for it.
    int sliceRows = 5000;
    // Called after each slice with the readings copied so far and an estimate of all of them.
    std::function<void(qint64 copied, qint64 all)> progress;
    // Checked between slices: true stops the conversion (what is copied stays copied).
    const std::atomic<bool>* cancel = nullptr;
};

// Converts the file at `path`; empty on success (or when there was nothing to convert),
// otherwise the reason.
QString convertLayout(const QString& path, const ConversionOptions& options = {});

class BackgroundConversion {
public:
    explicit BackgroundConversion(const QString& path);
    // Stops the conversion between two slices and waits for its thread.
    ~BackgroundConversion();
    BackgroundConversion(const BackgroundConversion&) = delete;
    BackgroundConversion& operator=(const BackgroundConversion&) = delete;

    bool finished() const;
    // Empty on success; valid once finished.
    QString problem();

private:
    std::atomic<bool> cancel_{false};
    std::future<QString> result_;
};

} // namespace history
