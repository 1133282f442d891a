// The [diagnostics] options of "zentlog.ini": every spelling of yes and no, and what becomes of a
// file or a value that cannot be used.

#include "diagnostics/DiagnosticsSettings.h"

#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using diagnostics::DiagnosticsSettings;

namespace {

class DiagnosticsSettingsFile : public ::testing::Test {
protected:
    QString iniPath() const { return dir.filePath(QStringLiteral("zentlog.ini")); }
    DiagnosticsSettings loadWith(const QByteArray& contents)
    {
        testing_support::writeFile(iniPath(), contents);
        return DiagnosticsSettings::load(dir.path());
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(DiagnosticsSettingsFile, AMissingFileOrKeyMeansNoTraceAndCreatesNothing)
{
    const DiagnosticsSettings absent = DiagnosticsSettings::load(dir.path());
    EXPECT_FALSE(absent.trace);
    EXPECT_TRUE(absent.problem.isEmpty()) << absent.problem.toStdString();
    EXPECT_FALSE(QFileInfo::exists(iniPath())) << "reading created the file";

    const DiagnosticsSettings otherSections = loadWith("[history]\nenabled=false\n[diagnostics]\nother=1\n");
    EXPECT_FALSE(otherSections.trace);
    EXPECT_TRUE(otherSections.problem.isEmpty()) << otherSections.problem.toStdString();
}

TEST_F(DiagnosticsSettingsFile, EverySpellingOfYesAndNoInAnyCase)
{
    const std::pair<const char*, bool> spellings[] = {
        {"true", true}, {"TRUE", true}, {"1", true},   {"yes", true}, {"Yes", true}, {"on", true},  {"ON", true},
        {"false", false}, {"False", false}, {"0", false}, {"no", false}, {"NO", false}, {"off", false}, {"Off", false},
    };
    for (const auto& [word, expected] : spellings) {
        const DiagnosticsSettings settings = loadWith(QByteArray("[diagnostics]\ntrace=") + word + "\n");
        EXPECT_EQ(settings.trace, expected) << word;
        EXPECT_TRUE(settings.problem.isEmpty()) << word << ": " << settings.problem.toStdString();
    }
}

TEST_F(DiagnosticsSettingsFile, AValueThatIsNeitherYesNorNoIsReportedAndTheTraceStaysOff)
{
    for (const char* word : {"maybe", "2", "yes please", "", "yes, no"}) {
        const DiagnosticsSettings settings = loadWith(QByteArray("[diagnostics]\ntrace=") + word + "\n");
        EXPECT_FALSE(settings.trace) << word;
        EXPECT_TRUE(settings.problem.contains(QStringLiteral("trace=%1 ").arg(QString::fromLatin1(word))))
            << word << ": " << settings.problem.toStdString();
        EXPECT_TRUE(settings.problem.contains(iniPath())) << settings.problem.toStdString();
    }
}

TEST_F(DiagnosticsSettingsFile, APipeOrADirectoryAtTheNameIsReportedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(iniPath()).constData(), 0600), 0);
    const DiagnosticsSettings fromPipe = DiagnosticsSettings::load(dir.path()); // would wait for ever on a read
    EXPECT_FALSE(fromPipe.trace);
    EXPECT_TRUE(fromPipe.problem.contains(QStringLiteral("not a regular file"))) << fromPipe.problem.toStdString();

    ASSERT_TRUE(QFile::remove(iniPath()));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zentlog.ini")));
    const DiagnosticsSettings fromDirectory = DiagnosticsSettings::load(dir.path());
    EXPECT_FALSE(fromDirectory.trace);
    EXPECT_TRUE(fromDirectory.problem.contains(QStringLiteral("not a regular file")))
        << fromDirectory.problem.toStdString();
}
