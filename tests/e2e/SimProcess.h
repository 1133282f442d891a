#pragma once
// zentlog-sim run by a test: started on a fresh pseudo-terminal, ended with the test.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace testing_support {

class SimProcess {
public:
    // Starts the simulator with `stations` written to its configuration file; `extra` are more
    // options. Fails the test when it does not come up.
    explicit SimProcess(const QStringList& stations, const QStringList& extra = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool running() const { return process_.state() == QProcess::Running; }
    // The link to the simulator's pseudo-terminal.
    QString linkPath() const { return dir_.filePath(QStringLiteral("line")); }
    // What the program opens: the link, or with "--listen" among the options the network address.
    QString device() const { return address_.isEmpty() ? linkPath() : address_; }
    // The requests it received, one "ADDRESS FUNCTION START COUNT" per request, in order.
    QStringList requests() const;
    // Its logs: one "MS ADDRESS FUNCTION START COUNT" line per request, one "MS ADDRESS START
    // FAULT" line per fault applied (tools/README.md).
    QString requestLogPath() const { return dir_.filePath(QStringLiteral("requests.log")); }
    QString faultLogPath() const { return dir_.filePath(QStringLiteral("faults.log")); }
    // Rewrites the configuration and has the simulator reload it.
    void reconfigure(const QStringList& stations);
    // Has the simulator replace its pseudo-terminal by a new one.
    void recreateLine();
    QString errorOutput() { return QString::fromLocal8Bit(process_.readAllStandardError()); }

private:
    void writeConfig(const QStringList& stations);
    void signal(int number);

    QTemporaryDir dir_;
    QProcess process_;
    QString address_;
};

// Runs zentlog-poll with `arguments`; its exit code and standard output.
struct PollRun {
    int exitCode = -1;
    QString output;
    QString errors;
};
PollRun runPoll(const QStringList& arguments);

} // namespace testing_support
