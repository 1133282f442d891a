// The bdSeq kept on disk: one more at every take, per destination, wrapping 255 -> 0, and a
// damaged or unwritable file said once per take without holding the session up.

#include "publish/BdSeqStore.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using publish::BdSeqStore;

TEST(BdSeqStore, CountsPerDestinationAcrossStoresWrapsAndSurvivesADamagedFile)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("state.json"));
    struct Step {
        const char* fileBefore; // written before the take; nullptr: left as it is
        const char* destination;
        int expected;
        bool problem;
    };
    const Step steps[] = {
        {nullptr, "a", 0, false},        {nullptr, "a", 1, false}, {nullptr, "b", 0, false},
        {nullptr, "a", 2, false},        {"{\"a\":255}", "a", 255, false}, {nullptr, "a", 0, false},
        {"{\"a\":7", "a", 0, true},      {nullptr, "a", 1, false}, // damaged: written anew
        {"{\"a\":\"x\",\"b\":900}", "b", 0, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.destination << " " << (step.fileBefore ? step.fileBefore : "-"));
        if (step.fileBefore)
            testing_support::writeFile(path, step.fileBefore);
        BdSeqStore store(path); // a new one each time, as a restarted program
        EXPECT_EQ(store.take(QString::fromLatin1(step.destination)), step.expected);
        EXPECT_EQ(!store.problem().isEmpty(), step.problem) << store.problem().toStdString();
    }

    // A file that cannot be written still gives a number, and says why.
    BdSeqStore nowhere(QDir(dir.path()).filePath(QStringLiteral("missing/state.json")));
    EXPECT_EQ(nowhere.take(QStringLiteral("a")), 0);
    EXPECT_TRUE(nowhere.problem().contains(QStringLiteral("cannot be written"))) << nowhere.problem().toStdString();
}
