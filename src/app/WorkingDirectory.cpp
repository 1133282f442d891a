#include "app/WorkingDirectory.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

namespace {

// A folder named by the user: it must exist and be a directory the program can enter.
WorkingDirectory namedFolder(const QString& path, const QString& source)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("The working directory \"%1\" (%2) does not exist.").arg(path, source)};
    if (!info.isDir())
        return {{}, QStringLiteral("The working directory \"%1\" (%2) is not a directory.").arg(path, source)};
    if (!info.isExecutable())
        return {{}, QStringLiteral("The working directory \"%1\" (%2) cannot be entered: permission denied.").arg(path, source)};
    return {info.absoluteFilePath(), {}};
}

} // namespace

QString defaultDataFolder()
{
    // GenericDataLocation rather than AppDataLocation: the latter adds the organisation and the
    // application name to the path, and the folder is to be exactly ~/.local/share/zentlog.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir(base).filePath(QStringLiteral("zentlog"));
}

WorkingDirectory chooseWorkingDirectory(const WorkingDirectoryRequest& request)
{
    if (!request.option.isEmpty())
        return namedFolder(request.option, QStringLiteral("--workdir"));
    if (!request.environment.isEmpty())
        return namedFolder(request.environment, QString::fromLatin1(kWorkdirVariable));

    // Any entry of that name counts, also a broken one: the user keeps the installation here, and
    // the program then says what is wrong with the file rather than silently moving elsewhere.
    const QFileInfo config(QDir(request.current), QStringLiteral("config.txt"));
    if (!request.current.isEmpty() && (config.exists() || config.isSymLink()))
        return {QFileInfo(request.current).absoluteFilePath(), {}};

    if (request.dataFolder.isEmpty())
        return {{}, QStringLiteral("There is no folder for the program's data (the home folder is unknown); "
                                   "start it with --workdir DIR.")};
    const QFileInfo data(request.dataFolder);
    if (data.isDir())
        return {data.absoluteFilePath(), {}};
    if (data.exists() || data.isSymLink())
        return {{}, QStringLiteral("The data folder \"%1\" cannot be used: something that is not a folder has "
                                   "that name. Move it away, or start the program with --workdir DIR.")
                        .arg(request.dataFolder)};
    if (!QDir().mkpath(request.dataFolder))
        return {{}, QStringLiteral("The data folder \"%1\" cannot be created. Start the program with --workdir DIR.")
                        .arg(request.dataFolder)};
    return {QFileInfo(request.dataFolder).absoluteFilePath(), {}, true};
}

WorkingDirectory enterWorkingDirectory(const QString& option)
{
    WorkingDirectory workdir = chooseWorkingDirectory(
        {option, qEnvironmentVariable(kWorkdirVariable), QDir::currentPath(), defaultDataFolder()});
    if (workdir.error.isEmpty() && !QDir::setCurrent(workdir.path))
        workdir.error = QStringLiteral("The working directory \"%1\" cannot be entered.").arg(workdir.path);
    return workdir;
}

} // namespace app
