#pragma once
// Runs one of the command-line tools as a separate process, as a user or a script would.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testing_support {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs `program` in `directory` with `environment`; a run that has not ended after `ms` fails the
// test and is killed.
ToolRun runTool(const QString& program, const QStringList& arguments, const QString& directory,
                const QProcessEnvironment& environment, int ms);

// The system's environment with LC_ALL set to `locale`.
QProcessEnvironment environmentWithLocale(const QString& locale);

} // namespace testing_support
