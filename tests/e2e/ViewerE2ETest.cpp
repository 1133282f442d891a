// The measurement window attached to a real zentlog-station that measures zentlog-sim's stations
// on a pseudo-terminal: the station's panels in two viewers at once, the station killed and
// started again, a configuration saved in the window while it runs, and users who may not write
// the folder or are outside its group.

#include "alarms/AlarmsWindow.h"
#include "app/Application.h"
#include "app/StationPanels.h"
#include "app/ZENTLOG.h"
#include "config/ConfigW.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "serial/ConfLS.h"
#include "feed/FeedClient.h"
#include "history/ExportWindow.h"
#include "history/TrendWindow.h"
#include "measure/F_Mesure.h"
#include "serial/FakeSerialControl.h"

#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "SimProcess.h"
#include "StationRun.h"

#include <QAction>
#include <QPushButton>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

const QStringList kStations{QStringLiteral("1 0 ph fixed"), QStringLiteral("2 0 orp fixed"),
                            QStringLiteral("3 0 orp fixed")};
const QString kPh = QStringLiteral("7.00 pH     18.0  °C");
const QString kOrp = QStringLiteral("350 mV     18.0  °C");

// The program with its main window, started on `directory` and given "&Measurement".
struct Viewer {
    explicit Viewer(const QString& directory)
    {
        auto fake = std::make_unique<serial::FakeSerialControl>();
        port = fake.get();
        app = std::make_unique<app::Application>(dialogs, std::move(fake), directory);
        app->setQuitHandler([] {});
        app->mainWindow().Form_Load();
        app->mainWindow().Mesure_Click();
    }
    measure::F_Mesure* window() const { return app->measurementWindow(); }
    QString text(int i) const { return window() ? window()->valueText(i) : QStringLiteral("(no window)"); }
    bool showing(const QString& first, const QString& second) const { return text(0) == first && text(1) == second; }

    ScriptedDialogs dialogs;
    serial::FakeSerialControl* port = nullptr;
    std::unique_ptr<app::Application> app;
};

// The station's own texts, as its feed sends them to any client.
struct Watcher {
    explicit Watcher(const QString& directory)
        : client(directory)
    {
        QObject::connect(&client, &feed::FeedClient::visited, [this](const feed::VisitMessage& visit) {
            texts[visit.reading.channel] = visit.reading.shown.text;
        });
        client.start();
    }
    feed::FeedClient client;
    QMap<int, QString> texts;
};

class ViewerE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeStationFiles(dir.path());
        sim = std::make_unique<SimProcess>(kStations);
        startStation();
    }
    void startStation()
    {
        station = std::make_unique<Station>(dir.path(), sim->linkPath());
        waitFor([&] { return feed::stationServes(dir.path()); }, 15000);
        ASSERT_TRUE(feed::stationServes(dir.path())) << station->log().toStdString();
    }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Station> station;
};

} // namespace

TEST_F(ViewerE2E, TwoViewersShowTheStationsPanelsAndComeBackAfterTheStationIsKilled)
{
    Watcher watcher(dir.path());
    Viewer first(dir.path());
    Viewer second(dir.path());
    for (Viewer* viewer : {&first, &second}) {
        ASSERT_TRUE(viewer->app->viewingStation());
        EXPECT_TRUE(viewer->window()->windowTitle().endsWith(QStringLiteral("[Measurement] - values from the station service")));
    }
    waitFor([&] { return first.showing(kPh, kOrp) && second.showing(kPh, kOrp); }, 15000);
    ASSERT_TRUE(first.showing(kPh, kOrp) && second.showing(kPh, kOrp)) << first.text(0).toStdString();
    EXPECT_EQ(watcher.texts.value(0), first.text(0));
    EXPECT_EQ(watcher.texts.value(1), first.text(1));
    EXPECT_EQ(first.window()->Etiquette1(0)->text(), QStringLiteral("basin pH"));
    EXPECT_EQ(first.window()->Etiquette1(1)->text(), QStringLiteral("basin ORP"));
    EXPECT_FALSE(first.window()->Etiquette3(2)->isVisibleTo(first.window()));

    QStringList notices;
    QObject::connect(&first.window()->source(), &measure::PanelSource::noticeChanged,
                     [&](const QString& text) { notices << text; });
    station->signal(SIGKILL);
    station->waitForExit(5000);
    // No value stays on a panel as if it were live, and the loss is said once in the window.
    waitFor([&] { return first.showing({}, {}) && first.window()->Notice()->isVisibleTo(first.window()); }, 10000);
    EXPECT_TRUE(first.showing({}, {}));
    EXPECT_TRUE(second.showing({}, {}));
    pause(3000);
    ASSERT_EQ(notices.size(), 1) << notices.join(u'|').toStdString();
    EXPECT_TRUE(notices[0].contains(QStringLiteral("stopped or restarted")));

    startStation();
    waitFor([&] { return first.showing(kPh, kOrp) && second.showing(kPh, kOrp); }, 20000);
    EXPECT_TRUE(first.showing(kPh, kOrp) && second.showing(kPh, kOrp));
    EXPECT_FALSE(first.window()->Notice()->isVisibleTo(first.window()));
    // Never a box, and the port of neither window was ever opened.
    for (Viewer* viewer : {&first, &second}) {
        EXPECT_TRUE(viewer->dialogs.boxes.isEmpty()) << viewer->dialogs.texts().join(u'|').toStdString();
        EXPECT_EQ(viewer->port->openCount(), 0);
    }
    // CANCEL goes back to the main window, Yes to the close box's question ends the window
    // program; the station measures on.
    first.window()->Commande1_Click();
    waitFor([&] { return first.window() == nullptr; }, 2000);
    EXPECT_EQ(first.window(), nullptr);
    int quits = 0;
    second.app->setQuitHandler([&] { ++quits; });
    second.dialogs.answer(ui::Answer::Yes);
    second.window()->close();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(station->running());
}

TEST_F(ViewerE2E, AStationThatHangsConnectedIsNotShownAsLive)
{
    Viewer viewer(dir.path());
    waitFor([&] { return viewer.showing(kPh, kOrp); }, 15000);
    ASSERT_TRUE(viewer.showing(kPh, kOrp));
    station->signal(SIGSTOP);
    waitFor([&] { return viewer.showing({}, {}); }, app::StationPanels::kSilenceMs + 10000);
    EXPECT_TRUE(viewer.showing({}, {}));
    EXPECT_TRUE(viewer.window()->Notice()->toolTip().contains(QStringLiteral("sent nothing")));
    station->signal(SIGCONT);
    waitFor([&] { return viewer.showing(kPh, kOrp); }, 15000);
    EXPECT_TRUE(viewer.showing(kPh, kOrp));
    EXPECT_FALSE(viewer.window()->Notice()->isVisibleTo(viewer.window()));
}

TEST_F(ViewerE2E, DiagnosticsSerialInterfaceAndAConfigurationSavedInTheWindowWhileTheStationRuns)
{
    qputenv("ZENTLOG_COM1", sim->linkPath().toLocal8Bit());
    Viewer viewer(dir.path());
    waitFor([&] { return viewer.showing(kPh, kOrp); }, 15000);
    ASSERT_TRUE(viewer.showing(kPh, kOrp));

    // The station's counters, and its reset from the window.
    viewer.app->showDiagnostics();
    diagnostics::DiagnosticsWindow* diagnostics = viewer.app->diagnosticsWindow();
    ASSERT_NE(diagnostics, nullptr);
    EXPECT_TRUE(diagnostics->windowTitle().endsWith(QStringLiteral(" - counters of the station service")));
    const auto requests = [&] { return diagnostics->Counters()->item(0, 0)->text().toInt(); };
    waitFor([&] { return requests() >= 3; }, 10000);
    ASSERT_GE(requests(), 3);
    diagnostics->Reset_Click();
    waitFor([&] { return requests() < 3; }, 5000);
    EXPECT_LT(requests(), 3);

    // The serial interface window leaves the station's device alone and says whose it is.
    viewer.app->showSerialInterface();
    auto* com1 = viewer.app->serialInterfaceWindow()->findChild<QRadioButton*>(QStringLiteral("Option1_0"));
    ASSERT_NE(com1, nullptr);
    EXPECT_TRUE(com1->text().contains(QStringLiteral("station service"))) << com1->text().toStdString();
    EXPECT_TRUE(com1->isEnabled());
    EXPECT_FALSE(viewer.port->openedPorts().contains(1));
    qunsetenv("ZENTLOG_COM1");
    viewer.app->showApplicationConfig();
    config::ConfigW* configW = viewer.app->applicationConfigWindow();
    ASSERT_NE(configW, nullptr);
    for (const auto& [name, text] : {std::pair{"AdresseStation_1", "3"}, std::pair{"Texte2_1", "tank ORP"}}) {
        auto* box = configW->findChild<QLineEdit*>(QLatin1String(name));
        ASSERT_NE(box, nullptr) << name;
        box->selectAll();
        QTest::keyClicks(box, QLatin1String(text));
    }
    configW->Commande1_Click();
    EXPECT_TRUE(viewer.dialogs.boxes.isEmpty()) << viewer.dialogs.texts().join(u'|').toStdString();
    waitFor([&] { return sim->requests().contains(QStringLiteral("3 3 0 8")); }, 10000);
    EXPECT_TRUE(sim->requests().contains(QStringLiteral("3 3 0 8")));
    waitFor([&] { return viewer.window()->Etiquette1(1)->text() == QStringLiteral("tank ORP") && viewer.text(1) == kOrp; },
            10000);
    EXPECT_EQ(viewer.window()->Etiquette1(1)->text(), QStringLiteral("tank ORP"));
    EXPECT_EQ(viewer.text(1), kOrp);
}

// Run as root: the station measures a folder that belongs to root and a group; the viewer runs
// again in a process of its own, as an unprivileged user in that group and as one outside it.
TEST_F(ViewerE2E, AGroupMemberViewsAndReadsTrendsButCannotSaveAnOutsiderCannotConnect)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the viewer as another user needs root";
    constexpr int kGroup = 4242;
    station->terminate();
    // Set-group-ID, as a station's folder is, so that what the station writes belongs to the group.
    const QByteArray path = QFile::encodeName(dir.path());
    ASSERT_EQ(::chown(path.constData(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(path.constData(), 02755), 0);
    startStation();
    waitFor([&] { return readRows(QDir(dir.path()).filePath(QStringLiteral("history.sqlite"))).size() >= 4; }, 15000);
    QTemporaryDir home; // the user's own folder, where the export goes
    QFile::setPermissions(home.path(), QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
                                           | QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const auto& [test, groups] : {std::pair{"Member", "--groups=4242"}, std::pair{"Outsider", "--clear-groups"}}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZENTLOG_VIEWER_DIR"), dir.path());
        env.insert(QStringLiteral("HOME"), home.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                QLatin1String(groups), QCoreApplication::applicationFilePath(),
                                                QStringLiteral("--gtest_filter=ViewerAsUser.%1").arg(QLatin1String(test))});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << test << ":\n" << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    }
}

// The two halves run by the test above, as the unprivileged user; skipped when run on their own.
TEST(ViewerAsUser, Member)
{
    const QString directory = qEnvironmentVariable("ZENTLOG_VIEWER_DIR");
    if (directory.isEmpty())
        GTEST_SKIP() << "run by ViewerE2E as another user";
    const QByteArray config = readFile(QDir(directory).filePath(QStringLiteral("config.txt")));
    Viewer viewer(directory);
    ASSERT_TRUE(viewer.app->viewingStation());
    waitFor([&] { return viewer.showing(kPh, kOrp); }, 15000);
    EXPECT_TRUE(viewer.showing(kPh, kOrp));
    viewer.app->showTrends();
    ASSERT_NE(viewer.app->trendWindow(), nullptr);
    EXPECT_EQ(viewer.app->trendWindow()->notice(), QString());
    EXPECT_EQ(viewer.app->trendWindow()->chartCount(), 2);
    // The export goes where this user may write (HOME, set by the test above).
    viewer.app->showHistoryExport();
    history::ExportWindow* exporter = viewer.app->historyExportWindow();
    EXPECT_EQ(exporter->Target()->text(), QDir::home().filePath(QStringLiteral("history.xls")));
    bool ended = false;
    QObject::connect(exporter, &history::ExportWindow::exportEnded, [&] { ended = true; });
    exporter->Export_Click();
    waitFor([&] { return ended; }, 20000);
    EXPECT_TRUE(viewer.dialogs.texts().join(u'|').contains(QStringLiteral("readings exported to")))
        << viewer.dialogs.texts().join(u'|').toStdString();
    viewer.dialogs.clear();
    viewer.app->applicationConfigWindow()->Commande1_Click();
    const QString said = viewer.dialogs.texts().join(u'|');
    EXPECT_TRUE(said.contains(QStringLiteral("may not write to the folder \"%1\"").arg(directory))) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("has been saved")));
    EXPECT_EQ(readFile(QDir(directory).filePath(QStringLiteral("config.txt"))), config);
}

TEST(ViewerAsUser, Outsider)
{
    const QString directory = qEnvironmentVariable("ZENTLOG_VIEWER_DIR");
    if (directory.isEmpty())
        GTEST_SKIP() << "run by ViewerE2E as another user";
    EXPECT_FALSE(feed::stationServes(directory));
    Viewer viewer(directory);
    ASSERT_TRUE(viewer.app->viewingStation());
    // (The tooltip holds the whole notice, which the label may shorten.)
    waitFor([&] { return viewer.window()->Notice()->toolTip().contains(QStringLiteral("may not connect")); }, 10000);
    EXPECT_TRUE(viewer.window()->Notice()->toolTip().contains(QStringLiteral("may not connect")))
        << viewer.window()->Notice()->toolTip().toStdString();
    EXPECT_TRUE(viewer.showing({}, {}));
    EXPECT_EQ(viewer.port->openCount(), 0);
}

TEST_F(ViewerE2E, TheStationsAlarmRingsThePanelAndIsAcknowledgedFromTheViewersAlarmsWindow)
{
    // The simulated pH stays at 7.00: above this limit from the first reading on.
    writeFile(dir.filePath(QStringLiteral("zentlog.ini")), "[alarms-input0]\nhigh=6.5\nhigh_high=9\n");
    station->signal(SIGHUP);
    Viewer viewer(dir.path());
    ASSERT_TRUE(viewer.app->viewingStation());
    const measure::PanelAlarm unacknowledged{measure::AlarmColour::Amber, true};
    waitFor([&] { return viewer.window()->alarm(0) == unacknowledged; }, 20000);
    ASSERT_EQ(viewer.window()->alarm(0), unacknowledged) << station->log().toStdString();
    EXPECT_EQ(viewer.window()->alarm(1), measure::PanelAlarm{});

    viewer.window()->findChild<QAction*>(QStringLiteral("ShowAlarms"))->trigger();
    alarms::AlarmsWindow* window = viewer.app->alarmsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" - alarms of the station service")));
    ASSERT_EQ(window->Table()->rowCount(), 1);
    EXPECT_EQ(window->Table()->item(0, 1)->text(), QStringLiteral("basin pH"));
    window->Table()->selectRow(0);
    QTest::mouseClick(window->AcknowledgeButton(), Qt::LeftButton);

    // The station acknowledges it and says so: the panel stops blinking and stays amber.
    const measure::PanelAlarm acknowledged{measure::AlarmColour::Amber, false};
    waitFor([&] { return viewer.window()->alarm(0) == acknowledged; }, 10000);
    EXPECT_EQ(viewer.window()->alarm(0), acknowledged);
    // Steady now: the ring is up and the window's blink timer has stopped.
    EXPECT_TRUE(viewer.window()->AlarmRing(0)->isVisibleTo(viewer.window()));
    EXPECT_FALSE(viewer.window()->AlarmRing(1)->isVisibleTo(viewer.window()));
    EXPECT_FALSE(viewer.window()->blinkTimer().isActive());
    EXPECT_EQ(window->Table()->item(0, 3)->text(), QStringLiteral("Active, acknowledged"));
    // Another client connecting now gets the station's own list: acknowledged there.
    feed::FeedClient client(dir.path());
    std::vector<alarms::Alarm> list;
    QObject::connect(&client, &feed::FeedClient::alarmsReceived, [&](const std::vector<alarms::Alarm>& got) { list = got; });
    client.start();
    waitFor([&] { return !list.empty(); }, 10000);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].active() && list[0].acknowledged());
}
