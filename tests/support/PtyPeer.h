#pragma once
// The far end of a pseudo-terminal: the program opens the other side by its path, as it would
// a serial device, and the test reads and writes what travels on the "line".

#include <QByteArray>
#include <QString>

#include <functional>

namespace testing_support {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The device path the program opens; empty when no pseudo-terminal could be made.
    const QString& path() const { return path_; }
    void write(const QByteArray& bytes) const;
    // Reads until `count` bytes came or the deadline passed, keeping Qt's events going.
    QByteArray read(qsizetype count, int ms) const;
    // The far end goes away (a cable pulled, the other program ended): the line hangs up.
    void hangUp();

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

// Runs Qt's events until `done` holds or `ms` milliseconds have passed.
void waitFor(const std::function<bool()>& done, int ms);

} // namespace testing_support
