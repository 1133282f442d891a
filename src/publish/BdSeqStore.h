#pragma once
// Keeps the Sparkplug B birth/death sequence number (bdSeq) across program restarts, in a small
// file of its own in the working directory, "sparkplug-bdseq.json": {"<destination>": next}.
//
// Why a file of its own rather than the history: the history may be off, held by a viewer,
// replaced or rescued, while every CONNECT must carry a bdSeq the broker has not seen with the
// previous one. A few bytes written atomically (QSaveFile: a new file, synced, renamed over the
// old) before each CONNECT cost nothing next to the connection itself, and a program killed right
// after its CONNECT still finds the next number at its next start.

#include <QString>

#include <cstdint>

namespace publish {

inline constexpr char kBdSeqFileName[] = "sparkplug-bdseq.json";

class BdSeqStore {
public:
    // `path`: the state file (it need not exist yet).
    explicit BdSeqStore(QString path);

    // The bdSeq for the next CONNECT to `destination` (0 the first time, then one more each
    // time, 255 followed by 0). The number after it is on disk before this returns; when it
    // cannot be written, problem() says why and the number is still given (the session must
    // not wait for a disk).
    std::uint8_t take(const QString& destination);

    // Why the file could not be read or written at the last take(); empty when it could.
    QString problem() const { return problem_; }

private:
    QString path_;
    QString problem_;
};

} // namespace publish
