#include "logger/Extraction.h"
#include "logger/ExtractionLayout.h"
#include "logger/FileSelectionLists.h"
#include "ui/QtDialogs.h"
#include "ui/Twips.h"

#include "LoggerFiles.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QLockFile>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

using logger::Extraction;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

class ExtractionWindowTest : public ::testing::Test {
protected:
    ExtractionWindowTest()
    {
        QLocale::setDefault(QLocale::c());
        QDir(root.path()).mkpath(QStringLiteral("a"));
        QDir(root.path()).mkpath(QStringLiteral("b"));
        QDir(root.path()).mkpath(QStringLiteral("empty"));
        QDir(root.path()).mkpath(QStringLiteral("out"));
        writeFile(path(QStringLiteral("a/pump.log")), logger_test::workedExample());
        writeFile(path(QStringLiteral("a/OLD.LOG")), logger_test::workedExampleHeader());
        writeFile(path(QStringLiteral("a/notes.txt")), "not a logger file");
        writeFile(path(QStringLiteral("b/other.log")), logger_test::workedExample());
        writeFile(path(QStringLiteral("empty/readme.txt")), "text");
    }

    QString path(const QString& relative) const { return QDir(root.path()).filePath(relative); }

    Extraction& load(const QString& programTitle = {})
    {
        window = std::make_unique<Extraction>(dialogs, programTitle, path(QStringLiteral("out")),
                                              [this] { return drives; });
        window->Form_Load();
        return *window;
    }

    Extraction& loadIn(const QString& relative)
    {
        load();
        EXPECT_TRUE(window->setDirectory(path(relative)));
        return *window;
    }

    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < window->File1()->count(); ++i)
            names << window->File1()->item(i)->text();
        return names;
    }

    void click(const QString& name)
    {
        const QList<QListWidgetItem*> items = window->File1()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        window->File1()->setCurrentItem(items.first());
    }

    // A logger file of 20000 records in "a", chosen in the list: long enough to be caught running.
    QByteArray selectBigFile()
    {
        QByteArray big = logger_test::workedExampleHeader();
        for (int k = 0; k < kBigRecords; ++k)
            big += logger_test::workedExampleRecord();
        writeFile(path(QStringLiteral("a/big.log")), big);
        loadIn(QStringLiteral("a"));
        click(QStringLiteral("big.log"));
        return big;
    }
    static constexpr int kBigRecords = 20000;

    // Runs the extraction button and the event loop until the run has ended.
    void extract()
    {
        QSignalSpy ended(window.get(), &Extraction::extractionEnded);
        window->Command3_Click();
        if (window->extracting()) {
            ASSERT_TRUE(ended.wait(60000));
        }
    }

    QTemporaryDir root;
    ScriptedDialogs dialogs;
    QStringList drives{QStringLiteral("/")};
    std::unique_ptr<Extraction> window;
};

} // namespace

TEST_F(ExtractionWindowTest, LoadSetsCaptionsTitleAndListsTheCurrentDirectory)
{
    Extraction& w = load();
    EXPECT_EQ(w.windowTitle(), QStringLiteral(" [logger data file]"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.findChild<QGroupBox*>(QStringLiteral("Frame1"))->title(), QStringLiteral("File selection "));
    EXPECT_EQ(w.findChild<QGroupBox*>(QStringLiteral("Frame2"))->title(), QString());
    EXPECT_EQ(w.Command1()->text(), QStringLiteral("Reset file"));
    EXPECT_EQ(w.Command2()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(w.Command3()->text(), QStringLiteral("Extraction"));
    EXPECT_EQ(w.Label2()->text(), QString());
    EXPECT_EQ(w.Label2()->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(w.Label2()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(w.File1()->pattern(), QStringLiteral("*.log"));
    EXPECT_EQ(w.Dir1()->path(), QDir::currentPath());
    EXPECT_EQ(w.File1()->path(), QDir::currentPath());
    EXPECT_EQ(w.Drive1()->drive(), QStringLiteral("/"));
    EXPECT_TRUE(w.SelectedFile().isEmpty());
    EXPECT_FALSE(w.ProgressBar1()->isVisible());

    load(QStringLiteral("ZENTLOG  ") + QStringLiteral(" V 2.19"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ZENTLOG   V 2.19 [logger data file]"));
}

TEST_F(ExtractionWindowTest, ControlsStandWhereTheTwipsSay)
{
    Extraction& w = load();
    EXPECT_EQ(w.size(), QSize(605, 311));
    for (const logger::TwipsPlace& place : logger::kExtractionLayout) {
        const QString name = QString::fromLatin1(place.name.data(), static_cast<qsizetype>(place.name.size()));
        const QWidget* widget = w.findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr) << place.name;
        EXPECT_EQ(widget->geometry(), ui::twipsRect(place.left, place.top, place.width, place.height)) << place.name;
        const QString container =
            place.container.empty() ? QStringLiteral("Extraction")
                                    : QString::fromLatin1(place.container.data(), static_cast<qsizetype>(place.container.size()));
        EXPECT_EQ(widget->parentWidget()->objectName(), container) << place.name;
    }
}

TEST_F(ExtractionWindowTest, FileListShowsLoggerFilesWhateverTheirCase)
{
    loadIn(QStringLiteral("a"));
    EXPECT_EQ(listed(), (QStringList{QStringLiteral("OLD.LOG"), QStringLiteral("pump.log")}));
    click(QStringLiteral("pump.log"));
    EXPECT_EQ(window->SelectedFile(), QStringLiteral("pump.log"));
}

TEST_F(ExtractionWindowTest, ResetInADirectoryWithoutLoggerFileOffersToCreateOne)
{
    loadIn(QStringLiteral("empty"));
    dialogs.answer(ui::Answer::No);
    window->Command1_Click();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("File creation ? "));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Question);
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNo);
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("empty/Virlzent.log"))));

    dialogs.answer(ui::Answer::Yes);
    window->Command1_Click();
    EXPECT_EQ(dialogs.beeps, 1);
    const QFileInfo created(path(QStringLiteral("empty/Virlzent.log")));
    EXPECT_TRUE(created.isFile());
    EXPECT_EQ(created.size(), 0);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("Virlzent.log")});
    EXPECT_EQ(window->SelectedFile(), path(QStringLiteral("empty/Virlzent.log")));
    EXPECT_EQ(readFile(path(QStringLiteral("empty/readme.txt"))), QByteArray("text"));

    // The path is kept but nothing is chosen in the list: neither command guesses.
    dialogs.clear();
    window->Command1_Click();
    window->Command3_Click();
    EXPECT_EQ(dialogs.texts(), (QStringList{QStringLiteral("File selection"), QStringLiteral("File selection")}));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("empty"))).isDir());
    EXPECT_TRUE(QDir(path(QStringLiteral("out"))).isEmpty());
}

TEST_F(ExtractionWindowTest, CreationNeverEmptiesAFileThatAppearedAfterTheListing)
{
    loadIn(QStringLiteral("empty"));
    writeFile(path(QStringLiteral("empty/Virlzent.log")), logger_test::workedExample());
    dialogs.answer(ui::Answer::Yes);
    window->Command1_Click();
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral("already exists"))) << dialogs.boxes[1].text.toStdString();
    EXPECT_EQ(readFile(path(QStringLiteral("empty/Virlzent.log"))), logger_test::workedExample());
    EXPECT_EQ(listed(), QStringList{QStringLiteral("Virlzent.log")});
}

TEST_F(ExtractionWindowTest, ResetWithFilesButNoneClickedAsksForASelection)
{
    loadIn(QStringLiteral("a"));
    window->Command1_Click();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("File selection"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::Ok);
    EXPECT_EQ(readFile(path(QStringLiteral("a/pump.log"))), logger_test::workedExample());
}

TEST_F(ExtractionWindowTest, ResetConfirmationEmptiesOnlyOnYes)
{
    loadIn(QStringLiteral("a"));
    click(QStringLiteral("pump.log"));
    dialogs.answer(ui::Answer::No);
    window->Command1_Click();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("Reset confirmation")});
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
    // Enter must not empty a logger file.
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNoDefaultNo);
    EXPECT_EQ(readFile(path(QStringLiteral("a/pump.log"))), logger_test::workedExample());

    dialogs.answer(ui::Answer::Yes);
    window->Command1_Click();
    EXPECT_EQ(QFileInfo(path(QStringLiteral("a/pump.log"))).size(), 0);
    EXPECT_EQ(window->SelectedFile(), path(QStringLiteral("a/pump.log")));
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_EQ(readFile(path(QStringLiteral("a/OLD.LOG"))), logger_test::workedExampleHeader());
}

TEST_F(ExtractionWindowTest, ChangingDirectoryForgetsTheSelection)
{
    loadIn(QStringLiteral("a"));
    click(QStringLiteral("pump.log"));
    ASSERT_TRUE(window->setDirectory(path(QStringLiteral("b"))));
    EXPECT_TRUE(window->SelectedFile().isEmpty());
    EXPECT_EQ(window->File1()->path(), path(QStringLiteral("b")));
    EXPECT_EQ(listed(), QStringList{QStringLiteral("other.log")});
    window->Command3_Click();
    window->Command1_Click();
    EXPECT_EQ(dialogs.texts(), (QStringList{QStringLiteral("File selection"), QStringLiteral("File selection")}));

    // A directory without logger files offers the creation instead.
    click(QStringLiteral("other.log"));
    ASSERT_TRUE(window->setDirectory(path(QStringLiteral("empty"))));
    dialogs.clear();
    dialogs.answer(ui::Answer::No);
    window->Command1_Click();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("File creation ? ")});

    // Through the directory list itself: opening the parent entry.
    QListWidget* dirs = window->Dir1();
    const QList<QListWidgetItem*> parent = dirs->findItems(QFileInfo(root.path()).fileName(), Qt::MatchEndsWith);
    ASSERT_EQ(parent.size(), 1);
    emit dirs->itemActivated(parent.first());
    EXPECT_EQ(window->Dir1()->path(), QDir(root.path()).absolutePath());
    EXPECT_TRUE(listed().isEmpty());
}

TEST_F(ExtractionWindowTest, UnreadableDriveGoesBackToTheDriveInUse)
{
    drives = {QStringLiteral("/"), path(QStringLiteral("no-card"))};
    loadIn(QStringLiteral("a"));
    click(QStringLiteral("pump.log"));
    emit window->Drive1()->activated(1);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("No peripheral device available"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    EXPECT_EQ(window->Drive1()->drive(), QStringLiteral("/"));
    EXPECT_EQ(window->Dir1()->path(), path(QStringLiteral("a")));
    EXPECT_EQ(window->SelectedFile(), QStringLiteral("pump.log"));

    // A drive that can be read: the lists go to its root.
    QDir().mkpath(path(QStringLiteral("no-card")));
    writeFile(path(QStringLiteral("no-card/card.log")), QByteArray());
    emit window->Drive1()->activated(1);
    EXPECT_EQ(window->Dir1()->path(), path(QStringLiteral("no-card")));
    EXPECT_EQ(listed(), QStringList{QStringLiteral("card.log")});
    EXPECT_TRUE(window->SelectedFile().isEmpty());
}

TEST_F(ExtractionWindowTest, ExtractionWritesTheFilesAndReportsTheEnd)
{
    loadIn(QStringLiteral("a"));
    window->setResetMode(false);
    click(QStringLiteral("pump.log"));
    extract();
    EXPECT_EQ(readFile(path(QStringLiteral("out/Flow_PUMP A.xls"))), logger_test::kWorkedFlowFile);
    EXPECT_EQ(readFile(path(QStringLiteral("out/Resistivity_PUMP A.xls"))), logger_test::kWorkedResistivityFile);
    EXPECT_EQ(window->Label2()->text(), QStringLiteral("1 : 5/3/99 14:5  1234 215 00012345"));
    EXPECT_EQ(window->SelectedFile(), path(QStringLiteral("a/pump.log")));
    EXPECT_EQ(dialogs.beeps, 1);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("End of extraction"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Information);
    EXPECT_TRUE(window->Command3()->isEnabled());

    // A file of only a header leaves the label as it was.
    click(QStringLiteral("OLD.LOG"));
    dialogs.answer(ui::Answer::Yes);
    dialogs.answer(ui::Answer::Yes);
    extract();
    EXPECT_EQ(window->Label2()->text(), QStringLiteral("1 : 5/3/99 14:5  1234 215 00012345"));
}

TEST_F(ExtractionWindowTest, FailuresAndFragmentsAreReported)
{
    writeFile(path(QStringLiteral("a/short.log")), "tiny");
    writeFile(path(QStringLiteral("a/tail.log")), logger_test::workedExample() + "\x01\x02");
    loadIn(QStringLiteral("a"));
    click(QStringLiteral("short.log"));
    extract();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("4 bytes"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
    EXPECT_TRUE(QDir(path(QStringLiteral("out"))).isEmpty());
    EXPECT_TRUE(window->Command3()->isEnabled());

    dialogs.clear();
    click(QStringLiteral("tail.log"));
    extract();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("End of extraction\n")));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("2 bytes")));

    // The logger file vanished after it was listed.
    dialogs.clear();
    click(QStringLiteral("pump.log"));
    QFile::remove(path(QStringLiteral("a/pump.log")));
    extract();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("pump.log")));
}

TEST_F(ExtractionWindowTest, NeitherButtonWorksWhileAnExtractionRuns)
{
    const QByteArray big = selectBigFile();
    QSignalSpy ended(window.get(), &Extraction::extractionEnded);
    window->Command3_Click();
    ASSERT_TRUE(window->extracting());
    EXPECT_FALSE(window->Command1()->isEnabled());
    EXPECT_FALSE(window->Command3()->isEnabled());
    EXPECT_TRUE(window->ProgressBar1()->isVisible());
    // The main window's reset command arrives meanwhile: still neither button.
    window->setResetMode(true);
    EXPECT_FALSE(window->Command1()->isEnabled());
    // Pressed anyway (a queued click): nothing is emptied, no second run starts.
    window->Command1_Click();
    window->Command3_Click();
    EXPECT_EQ(readFile(path(QStringLiteral("a/big.log"))).size(), big.size());
    // Cancel hides the window; the run goes on to its end.
    window->Command2_Click();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("End of extraction")});
    EXPECT_EQ(window->Label2()->text(), QStringLiteral("%1 : 5/3/99 14:5  1234 215 00012345").arg(kBigRecords));
    // The mode asked for last applies now.
    EXPECT_TRUE(window->Command1()->isEnabled());
    EXPECT_FALSE(window->Command3()->isEnabled());
    EXPECT_EQ(readFile(path(QStringLiteral("out/Flow_PUMP A.xls"))).count('\n'), 5 + kBigRecords);
}

TEST_F(ExtractionWindowTest, ClosingDuringARunUnloadsTheWindowOnceItEnds)
{
    selectBigFile();
    window->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Extraction> guard(window.release()); // the window owns itself now
    QSignalSpy ended(guard.data(), &Extraction::extractionEnded);
    guard->Command3_Click();
    guard->close();
    EXPECT_FALSE(guard.isNull());
    EXPECT_FALSE(guard->isVisible());
    ASSERT_TRUE(ended.wait(60000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(readFile(path(QStringLiteral("out/Flow_PUMP A.xls"))).count('\n'), 5 + kBigRecords);
}

TEST_F(ExtractionWindowTest, TheDirectoryListOffersOnlyDirectories)
{
    // A link to a serial device (as the simulated installation leaves beside its files) and a
    // dangling link are no places to go.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), path(QStringLiteral("line"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("dangling"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("b")), path(QStringLiteral("to-b"))));
    load();
    ASSERT_TRUE(window->setDirectory(root.path()));
    QStringList entries;
    for (int i = 0; i < window->Dir1()->count(); ++i)
        entries << window->Dir1()->item(i)->text().trimmed();
    EXPECT_TRUE(entries.contains(QStringLiteral("to-b")));
    EXPECT_FALSE(entries.contains(QStringLiteral("line")));
    EXPECT_FALSE(entries.contains(QStringLiteral("dangling")));
}

TEST_F(ExtractionWindowTest, CreationNeverGoesThroughALinkNamedLikeTheLoggerFile)
{
    loadIn(QStringLiteral("empty"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("b/made-through-the-link.log")), path(QStringLiteral("empty/Virlzent.log"))));
    dialogs.answer(ui::Answer::Yes);
    window->Command1_Click();
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral("already exists"))) << dialogs.boxes[1].text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("b/made-through-the-link.log"))));
}

TEST_F(ExtractionWindowTest, RefusalsNameTheFileAndTheReasonAndTheWindowStaysUsable)
{
    loadIn(QStringLiteral("a"));
    window->setResetMode(false);
    click(QStringLiteral("pump.log"));
    const QString flow = path(QStringLiteral("out/Flow_PUMP A.xls"));

    // A link at an output name.
    writeFile(path(QStringLiteral("b/precious.txt")), "precious");
    ASSERT_TRUE(QFile::link(path(QStringLiteral("b/precious.txt")), flow));
    extract();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QDir::toNativeSeparators(flow))) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("symbolic link"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(readFile(path(QStringLiteral("b/precious.txt"))), QByteArray("precious"));
    EXPECT_TRUE(window->Command3()->isEnabled());
    QFile::remove(flow);

    // Another extraction holds the output folder.
    {
        QLockFile other(path(QStringLiteral("out/") + QString::fromLatin1(logger::kOutputLockName)));
        ASSERT_TRUE(other.tryLock(0));
        dialogs.clear();
        extract();
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("Another extraction")))
            << dialogs.boxes[0].text.toStdString();
        EXPECT_FALSE(QFileInfo::exists(flow));
    }

    // The chosen logger file became a pipe after it was listed (the list shows no pipes).
    const QString logger = path(QStringLiteral("a/pump.log"));
    QFile::remove(logger);
    ASSERT_EQ(::mkfifo(QFile::encodeName(logger).constData(), 0600), 0);
    dialogs.clear();
    extract();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("pump.log"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("not a regular file"))) << dialogs.boxes[0].text.toStdString();
    QFile::remove(logger);
    writeFile(logger, logger_test::workedExample());

    // Once the way is clear the same window extracts.
    click(QStringLiteral("pump.log"));
    dialogs.clear();
    extract();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("End of extraction")});
    EXPECT_EQ(readFile(flow), logger_test::kWorkedFlowFile);
}

TEST_F(ExtractionWindowTest, EnterOnTheRealDestructiveQuestionsAnswersNo)
{
    // Real message boxes, offscreen: Enter is pressed on whatever box comes up.
    ui::QtDialogs real;
    window = std::make_unique<Extraction>(real, QString(), path(QStringLiteral("out")), [this] { return drives; });
    window->Form_Load();
    ASSERT_TRUE(window->setDirectory(path(QStringLiteral("a"))));
    QStringList seen;
    QTimer presser;
    presser.setInterval(20);
    QObject::connect(&presser, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box && box->isVisible()) {
                seen << box->text();
                QTest::keyClick(box, Qt::Key_Return);
                return;
            }
        }
    });
    presser.start();
    // The presser stops waiting after a while, so that a box it cannot close fails the test
    // instead of holding it.
    QTimer::singleShot(60000, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                box->reject();
        }
    });

    window->setResetMode(true);
    click(QStringLiteral("pump.log"));
    window->Command1_Click();
    EXPECT_EQ(seen, QStringList{QStringLiteral("Reset confirmation")});
    EXPECT_EQ(readFile(path(QStringLiteral("a/pump.log"))), logger_test::workedExample());

    // The replace question: Enter appends, the old contents stay.
    writeFile(path(QStringLiteral("out/Flow_PUMP A.xls")), "old\r\n");
    window->setResetMode(false);
    seen.clear();
    extract();
    ASSERT_GE(seen.size(), 1);
    EXPECT_TRUE(seen[0].contains(QStringLiteral("Do you wish to replace it?"))) << seen[0].toStdString();
    EXPECT_EQ(readFile(path(QStringLiteral("out/Flow_PUMP A.xls"))), "old\r\n" + logger_test::kWorkedFlowFile);
}
