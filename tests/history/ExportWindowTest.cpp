// The export window offscreen: its defaults, an export to the end, an empty period, the replace
// question, Cancel half-way, a refused target, the measurement's ticks during a long export, a
// real message box at the end, and the main window's command that opens it.

#include "history/ExportWindow.h"

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/FakeSerialControl.h"
#include "ui/QtDialogs.h"
#include "ui/WindowFit.h"

#include "ExportTestDatabase.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

using history::ExportWindow;
using history_test::utcMs;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

class ExportWindowTest : public ::testing::Test {
protected:
    ExportWindowTest() { QLocale::setDefault(QLocale::c()); }

    ExportWindow& load(ui::Dialogs& boxes)
    {
        window = std::make_unique<ExportWindow>(boxes, QString(), dir.path());
        window->Form_Load();
        return *window;
    }
    ExportWindow& load() { return load(dialogs); }

    QString inDir(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }

    // `count` readings a second of channel 1 from 2026-12-09 01:00 UTC; the period covers them.
    void fill(int count)
    {
        {
            history_test::TestDatabase db(inDir(QStringLiteral("history.sqlite")));
            db.addSeries(0, utcMs("2026-12-09T01:00:00"), count);
        }
        periodFrom = QDateTime::fromMSecsSinceEpoch(utcMs("2026-12-09T00:00:00"));
        periodTo = QDateTime::fromMSecsSinceEpoch(utcMs("2026-12-20T00:00:00"));
    }
    void choosePeriod()
    {
        window->From()->setDateTime(periodFrom);
        window->To()->setDateTime(periodTo);
    }
    // Runs the event loop until the export ends.
    bool waitForEnd(int timeoutMs = 120000)
    {
        QElapsedTimer clock;
        clock.start();
        while (window->exporting() && clock.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return !window->exporting();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<ExportWindow> window;
    QDateTime periodFrom, periodTo;
};

} // namespace

TEST_F(ExportWindowTest, OpensOnTheLastDayWithEveryChannelAndAnXlsFile)
{
    const QDateTime before = QDateTime::currentDateTime();
    load();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->From()->dateTime().secsTo(window->To()->dateTime()), 24 * 3600);
    EXPECT_GE(window->To()->dateTime(), before);
    EXPECT_LE(window->To()->dateTime(), before.addSecs(120));
    for (int i = 0; i < history::kExportChannelCount; ++i)
        EXPECT_TRUE(window->Channel(i)->isChecked()) << i;
    EXPECT_TRUE(window->FormatXls()->isChecked());
    EXPECT_EQ(window->Target()->text(), QDir::toNativeSeparators(inDir(QStringLiteral("history.xls"))));

    window->FormatCsv()->setChecked(true);
    EXPECT_EQ(window->Target()->text(), QDir::toNativeSeparators(inDir(QStringLiteral("history.csv"))));
    window->Target()->setText(inDir(QStringLiteral("mine.txt")));
    window->FormatXls()->setChecked(true);
    EXPECT_EQ(window->Target()->text(), inDir(QStringLiteral("mine.txt")));

    // No history yet is no error.
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Information);
}

TEST_F(ExportWindowTest, ExportsTheChosenPeriodAndSaysHowManyReadings)
{
    fill(3000);
    load();
    choosePeriod();
    window->FormatCsv()->setChecked(true);
    QSignalSpy ended(window.get(), &ExportWindow::exportEnded);
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.size(), 1);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Information);
    EXPECT_FALSE(dialogs.boxes[0].waited);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("3000 readings exported to"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(window->Progress()->value(), window->Progress()->maximum());
    const QByteArray csv = readFile(inDir(QStringLiteral("history.csv")));
    EXPECT_EQ(csv.count('\n'), 3001);
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBFtime,channel,tag,")) << csv.left(40).constData();
    EXPECT_TRUE(window->ExportButton()->isEnabled());
}

TEST_F(ExportWindowTest, AnEmptyPeriodSaysSoAndWritesNothing)
{
    fill(10);
    load();
    window->From()->setDateTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    window->To()->setDateTime(QDateTime(QDate(2020, 1, 2), QTime(0, 0)));
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("no readings"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(files(), QStringList({QStringLiteral("history.sqlite")}));

    dialogs.clear();
    for (int i = 0; i < history::kExportChannelCount; ++i)
        window->Channel(i)->setChecked(false);
    window->ExportButton()->click();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Choose at least one channel."));
}

TEST_F(ExportWindowTest, AnExistingFileIsReplacedOnlyAfterAYes)
{
    fill(10);
    writeFile(inDir(QStringLiteral("history.xls")), "earlier export");
    load();
    choosePeriod();
    dialogs.answer(ui::Answer::No);
    window->ExportButton()->click();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNoDefaultNo);
    EXPECT_FALSE(window->exporting());
    EXPECT_EQ(readFile(inDir(QStringLiteral("history.xls"))), "earlier export");

    dialogs.answer(ui::Answer::Yes);
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(readFile(inDir(QStringLiteral("history.xls"))).count('\n'), 11);

    // The next export's question does not stand beside the last one's full bar.
    dialogs.answer(ui::Answer::No);
    window->ExportButton()->click();
    EXPECT_EQ(window->Progress()->value(), 0);
}

TEST_F(ExportWindowTest, TitleTagsKeysAndSizeServeTheOperator)
{
    window = std::make_unique<ExportWindow>(dialogs, QStringLiteral("V 2.19"), dir.path());
    window->Form_Load();
    window->setChannelTags({QStringLiteral("Tank pH"), QString(), QStringLiteral("A & B"), QString()});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("V 2.19 [History export]"));
    EXPECT_EQ(window->Channel(0)->text() + '|' + window->Channel(1)->text() + '|' + window->Channel(2)->text(),
              QStringLiteral("Input 0: Tank pH|Input 1|Input 2: A && B"));
    ASSERT_EQ(window->screen()->geometry().size(), QSize(1024, 768)); // the smallest operators have
    EXPECT_TRUE(ui::fitsScreen(*window));
    // One Tab per date field, not one per part of it; Escape closes.
    QApplication::setActiveWindow(window.get());
    window->From()->setFocus();
    QTest::keyClick(window->From(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->To());
    QTest::keyClick(window->To(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ExportWindowTest, CancelHalfWayLeavesNoFileAndTheWindowReady)
{
    fill(200000);
    writeFile(inDir(QStringLiteral("history.xls")), "earlier export");
    load();
    choosePeriod();
    dialogs.answer(ui::Answer::Yes);
    window->ExportButton()->click();
    ASSERT_TRUE(window->exporting());
    EXPECT_FALSE(window->ExportButton()->isEnabled());
    EXPECT_FALSE(window->Target()->isEnabled());
    // One slice, then Cancel as the user would click it.
    QElapsedTimer clock;
    clock.start();
    while (window->Progress()->value() == 0 && window->exporting() && clock.elapsed() < 60000)
        QCoreApplication::processEvents();
    ASSERT_TRUE(window->exporting()) << "the export ended before it could be cancelled";
    window->CancelButton()->click();
    EXPECT_FALSE(window->exporting());
    EXPECT_EQ(readFile(inDir(QStringLiteral("history.xls"))), "earlier export");
    EXPECT_EQ(files(), QStringList({QStringLiteral("history.sqlite"), QStringLiteral("history.xls")}));
    EXPECT_TRUE(window->ExportButton()->isEnabled());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(dialogs.boxes.size(), 1); // the replace question only
}

TEST_F(ExportWindowTest, ClosingTheWindowStopsTheExport)
{
    fill(200000);
    load();
    choosePeriod();
    window->ExportButton()->click();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window->exporting());
    window->close();
    EXPECT_FALSE(window->exporting());
    EXPECT_EQ(files(), QStringList({QStringLiteral("history.sqlite")}));
}

TEST_F(ExportWindowTest, ALinkAtTheTargetIsRefusedWithAMessage)
{
    fill(10);
    writeFile(inDir(QStringLiteral("precious.txt")), "keep me");
    ASSERT_EQ(::symlink("precious.txt", inDir(QStringLiteral("history.xls")).toLocal8Bit().constData()), 0);
    load();
    choosePeriod();
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(dialogs.boxes.size(), 1); // no replace question for a link: it is refused outright
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("symbolic link"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(readFile(inDir(QStringLiteral("precious.txt"))), "keep me");
}

TEST_F(ExportWindowTest, ALongExportLeavesTheOtherTimersTheirTicks)
{
    fill(800000);
    load();
    choosePeriod();
    // A timer standing in for the measurement's: the longest gap between its ticks while the
    // export runs. A blocking export would hold it for the whole export (seconds).
    QTimer tick;
    tick.setInterval(100);
    QElapsedTimer sinceLast;
    qint64 longestGap = 0;
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            longestGap = std::max(longestGap, sinceLast.elapsed());
        sinceLast.restart();
    });
    tick.start();
    QElapsedTimer exportTime;
    exportTime.start();
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    const qint64 took = exportTime.elapsed();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("800000 readings"))) << dialogs.boxes[0].text.toStdString();
    if (took < 1200)
        GTEST_SKIP() << "the export took only " << took << " ms: too short to tell";
    EXPECT_GE(ticks, 3);
    // Slices last 25 ms; a gap of a whole second would be a lost measurement tick.
    EXPECT_LT(longestGap, 1000) << "the export held the event loop for " << longestGap << " ms of " << took;
}

TEST_F(ExportWindowTest, TheEndIsToldInARealMessageBoxThatDoesNotWait)
{
    fill(10);
    ui::QtDialogs real;
    load(real);
    choosePeriod();
    window->ExportButton()->click();
    ASSERT_TRUE(waitForEnd());
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* candidate = qobject_cast<QMessageBox*>(widget); candidate && candidate->isVisible())
            box = candidate;
    }
    for (int i = 0; i < 50 && !box; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (QWidget* widget : window->findChildren<QMessageBox*>()) {
            if (widget->isVisible())
                box = qobject_cast<QMessageBox*>(widget);
        }
    }
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("10 readings exported"))) << box->text().toStdString();
    box->accept();
    EXPECT_EQ(readFile(inDir(QStringLiteral("history.xls"))).count('\n'), 11);
}

TEST(HistoryMenu, ExportOpensTheWindowOnceAndTheMenuFollowsTheLogger)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    app::Application application(dialogs, std::make_unique<serial::FakeSerialControl>(), dir.path());
    application.setQuitHandler([] {});
    application.mainWindow().Form_Load();
    QMenuBar* bar = application.mainWindow().menuBar();
    const QList<QAction*> top = bar->actions();
    // History follows Logger, and Diagnostics follows History.
    const auto logger = std::find_if(top.begin(), top.end(), [](QAction* a) { return a->text() == QStringLiteral("&Logger"); });
    ASSERT_GE(top.end() - logger, 3);
    EXPECT_EQ(logger[1]->text(), QStringLiteral("&History"));
    ASSERT_NE(logger[1]->menu(), nullptr);
    EXPECT_EQ(logger[1]->menu()->objectName(), QStringLiteral("History"));
    EXPECT_EQ(logger[2]->text(), QStringLiteral("&Diagnostics"));

    application.mainWindow().findChild<QAction*>(QStringLiteral("Export"))->trigger();
    QPointer<ExportWindow> first = application.historyExportWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QCoreApplication::applicationName() + QStringLiteral(" [History export]"));
    application.mainWindow().findChild<QAction*>(QStringLiteral("Export"))->trigger();
    EXPECT_EQ(application.historyExportWindow(), first.data());
    EXPECT_EQ(first->Target()->text(), QDir::toNativeSeparators(QDir(dir.path()).filePath(QStringLiteral("history.xls"))));
}
