// Where the program works: the current directory when it holds "config.txt", otherwise its data
// folder; --workdir and ZENTLOG_WORKDIR choose another. Checked on real folders, files and links.

#include "app/WorkingDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class WorkingDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("start")));
        ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("elsewhere")));
    }

    QString path(const QString& name) const { return QDir(root_.path()).filePath(name); }

    static void write(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    static QByteArray read(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    // Started in "start", with the data folder where a fresh account would have it.
    app::WorkingDirectoryRequest request() const
    {
        return {{}, {}, path(QStringLiteral("start")), path(QStringLiteral("home/.local/share/zentlog"))};
    }

    QTemporaryDir root_;
};

TEST_F(WorkingDirectoryTest, TheCurrentDirectoryWithConfigTxtIsKept)
{
    write(path(QStringLiteral("start/config.txt")), "\"1\",\"\",\"\",0\r\n");
    const app::WorkingDirectory chosen = app::chooseWorkingDirectory(request());
    EXPECT_EQ(chosen.error, QString());
    EXPECT_EQ(chosen.path, path(QStringLiteral("start")));
    EXPECT_FALSE(chosen.created);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("home"))));

    // A "config.txt" that is a dangling link still marks the user's folder: the program then
    // says what is wrong with the file instead of quietly starting somewhere else.
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("start/config.txt"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone.txt")), path(QStringLiteral("start/config.txt"))));
    EXPECT_EQ(app::chooseWorkingDirectory(request()).path, path(QStringLiteral("start")));
}

TEST_F(WorkingDirectoryTest, WithoutConfigTxtTheDataFolderIsCreatedOnceAndUsed)
{
    // "PortCom.dat" alone does not make an installation: the menu starts the program in the home
    // folder, which may hold anything.
    write(path(QStringLiteral("start/PortCom.dat")), "COM1\r\n");
    const app::WorkingDirectory first = app::chooseWorkingDirectory(request());
    EXPECT_EQ(first.error, QString());
    EXPECT_EQ(first.path, path(QStringLiteral("home/.local/share/zentlog")));
    EXPECT_TRUE(first.created);
    EXPECT_TRUE(QFileInfo(first.path).isDir());

    write(path(QStringLiteral("home/.local/share/zentlog/config.txt")), "kept");
    const app::WorkingDirectory second = app::chooseWorkingDirectory(request());
    EXPECT_EQ(second.path, first.path);
    EXPECT_FALSE(second.created);
    EXPECT_EQ(read(path(QStringLiteral("home/.local/share/zentlog/config.txt"))), QByteArray("kept"));

    // A link to a folder is a folder the user set up on purpose.
    ASSERT_TRUE(QFile::rename(first.path, path(QStringLiteral("elsewhere/zentlog"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("elsewhere/zentlog")), first.path));
    EXPECT_EQ(app::chooseWorkingDirectory(request()).error, QString());
    EXPECT_EQ(read(QDir(app::chooseWorkingDirectory(request()).path).filePath(QStringLiteral("config.txt"))),
              QByteArray("kept"));
}

TEST_F(WorkingDirectoryTest, TheOptionWinsOverTheVariableAndTheVariableOverTheCurrentDirectory)
{
    write(path(QStringLiteral("start/config.txt")), "here");
    ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("station")));

    app::WorkingDirectoryRequest r = request();
    r.environment = path(QStringLiteral("elsewhere"));
    EXPECT_EQ(app::chooseWorkingDirectory(r).path, path(QStringLiteral("elsewhere")));

    r.option = path(QStringLiteral("station"));
    const app::WorkingDirectory chosen = app::chooseWorkingDirectory(r);
    EXPECT_EQ(chosen.error, QString());
    EXPECT_EQ(chosen.path, path(QStringLiteral("station")));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("home"))));

    // A bad variable does not matter when the option names a good folder.
    r.environment = path(QStringLiteral("missing"));
    EXPECT_EQ(app::chooseWorkingDirectory(r).path, path(QStringLiteral("station")));
}

TEST_F(WorkingDirectoryTest, ANamedFolderMustExistAndIsNeverCreated)
{
    app::WorkingDirectoryRequest r = request();
    r.option = path(QStringLiteral("statoin")); // a typing error
    app::WorkingDirectory chosen = app::chooseWorkingDirectory(r);
    EXPECT_EQ(chosen.path, QString());
    EXPECT_TRUE(chosen.error.contains(r.option)) << chosen.error.toStdString();
    EXPECT_TRUE(chosen.error.contains(QStringLiteral("--workdir"))) << chosen.error.toStdString();
    EXPECT_TRUE(chosen.error.contains(QStringLiteral("does not exist"))) << chosen.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(r.option));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("home"))));

    // The variable's name is in the message when the variable was wrong.
    r.option.clear();
    r.environment = path(QStringLiteral("elsewhere/config.txt"));
    write(r.environment, "a file, not a folder");
    chosen = app::chooseWorkingDirectory(r);
    EXPECT_EQ(chosen.path, QString());
    EXPECT_TRUE(chosen.error.contains(QString::fromLatin1(app::kWorkdirVariable))) << chosen.error.toStdString();
    EXPECT_TRUE(chosen.error.contains(QStringLiteral("not a directory"))) << chosen.error.toStdString();
    EXPECT_EQ(read(r.environment), QByteArray("a file, not a folder"));
}

TEST_F(WorkingDirectoryTest, WhatStandsAtTheDataFolderNameIsNeverTouched)
{
    const app::WorkingDirectoryRequest r = request();
    ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("home/.local/share")));

    // A file of the user's at that name.
    write(r.dataFolder, "notes");
    app::WorkingDirectory chosen = app::chooseWorkingDirectory(r);
    EXPECT_EQ(chosen.path, QString());
    EXPECT_TRUE(chosen.error.contains(r.dataFolder)) << chosen.error.toStdString();
    EXPECT_TRUE(chosen.error.contains(QStringLiteral("--workdir"))) << chosen.error.toStdString();
    EXPECT_EQ(read(r.dataFolder), QByteArray("notes"));

    // A dangling link: neither followed (its target would be created) nor replaced.
    ASSERT_TRUE(QFile::remove(r.dataFolder));
    const QString target = path(QStringLiteral("elsewhere/target"));
    ASSERT_TRUE(QFile::link(target, r.dataFolder));
    chosen = app::chooseWorkingDirectory(r);
    EXPECT_EQ(chosen.path, QString());
    EXPECT_FALSE(chosen.error.isEmpty());
    EXPECT_TRUE(QFileInfo(r.dataFolder).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST_F(WorkingDirectoryTest, ADataFolderThatCannotBeMadeIsReported)
{
    // ".local" is a file: the folder beneath it cannot be created, whoever runs the test (root
    // ignores permissions, not file types).
    ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("home")));
    write(path(QStringLiteral("home/.local")), "in the way");
    const app::WorkingDirectory chosen = app::chooseWorkingDirectory(request());
    EXPECT_EQ(chosen.path, QString());
    EXPECT_TRUE(chosen.error.contains(QStringLiteral("cannot be created"))) << chosen.error.toStdString();
    EXPECT_EQ(read(path(QStringLiteral("home/.local"))), QByteArray("in the way"));

    app::WorkingDirectoryRequest noHome = request();
    noHome.dataFolder.clear();
    EXPECT_FALSE(app::chooseWorkingDirectory(noHome).error.isEmpty());
}

// The data folder follows the home folder and XDG_DATA_HOME, as other desktop programs' do.
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = qgetenv("HOME");
        hadXdg_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        xdg_ = qgetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        qputenv("HOME", home_);
        if (hadXdg_)
            qputenv("XDG_DATA_HOME", xdg_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    QByteArray home_;
    QByteArray xdg_;
    bool hadXdg_ = false;
};

TEST_F(DataFolderTest, IsExactlyLocalShareZentlogInTheHomeFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(app::defaultDataFolder(), home.path() + QStringLiteral("/.local/share/zentlog"));

    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    EXPECT_EQ(app::defaultDataFolder(), home.path() + QStringLiteral("/data/zentlog"));
}

} // namespace
