// The application configuration window, driven as a user would: clicks, typing, focus moves.

#include "config/ChannelConfiguration.h"
#include "config/ConfigFile.h"
#include "config/ConfigW.h"
#include "config/ConfigWLayout.h"
#include "ui/QtDialogs.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <gtest/gtest.h>

using namespace config;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kGrey(128, 128, 128);
const QColor kWhite(255, 255, 255);

// Channels 0 and 2 selected at address "3" (0 Master, 2 Ext.); channel 1 unselected; channel 3
// unselected at "3" as Master, like channel 0.
Channels sample()
{
    Channels channels{};
    channels[0] = {1, TypePH, QStringLiteral("3"), QStringLiteral("tank A"), true, false};
    channels[1] = {0, TypeNone, QString(), QString(), false, false};
    channels[2] = {1, TypeFlow, QStringLiteral("3"), QStringLiteral("pump"), false, true};
    channels[3] = {0, TypeORP, QStringLiteral("3"), QStringLiteral("spare"), true, false};
    return channels;
}

class ConfigWTest : public ::testing::Test {
protected:
    ConfigWTest()
        : model(dialogs, dir.path())
    {
        writeFile(path(), serializeConfig(sample()));
        window = new ConfigW(ConfigW::Services{model, dialogs,
                                               [this] {
                                                   ++serialLoads;
                                                   // The configuration is in by now; the title is not yet set.
                                                   loadedBeforeSettings = model.isLoaded() && window->isVisible()
                                                       && programTitle.isEmpty();
                                               },
                                               programTitle, stopMarker, [this] { ++mainShown; }});
        window->Form_Load();
    }
    ~ConfigWTest() override { delete window.data(); }

    QString path() const { return dir.filePath(QStringLiteral("config.txt")); }

    template <class T>
    T* child(const QString& name) const
    {
        T* widget = window->findChild<T*>(name);
        if (!widget)
            ADD_FAILURE() << "no control " << name.toStdString();
        return widget;
    }
    QLineEdit* address(int i) const { return child<QLineEdit>(QStringLiteral("AdresseStation_%1").arg(i)); }
    QLineEdit* tag(int i) const { return child<QLineEdit>(QStringLiteral("Texte2_%1").arg(i)); }
    QCheckBox* box(int i) const { return child<QCheckBox>(QStringLiteral("Coche1_%1").arg(i)); }
    QLabel* input(int i) const { return child<QLabel>(QStringLiteral("Etiquette1_%1").arg(i)); }
    QRadioButton* role(int i, int e) const
    {
        return child<QRadioButton>(QStringLiteral("Option%1_%2").arg(i + 1).arg(e));
    }
    QPushButton* button(const char* name) const { return child<QPushButton>(QLatin1String(name)); }

    void activate()
    {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    // Replaces the text of a box by typing, as a user would.
    static void retype(QLineEdit* edit, const QString& text)
    {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
        }
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
    }

    // The row shows channel i as selected (or not).
    void expectSelectionShown(int i, bool selected)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(box(i)->palette().color(box(i)->backgroundRole()), selected ? kGreen : kWhite);
        EXPECT_TRUE(box(i)->autoFillBackground());
        EXPECT_EQ(input(i)->palette().color(input(i)->foregroundRole()), selected ? kBlue : kGrey);
        // Whether the row's controls show once the window is shown (it may be hidden by now).
        for (QWidget* control : std::initializer_list<QWidget*>{child<QWidget>(QStringLiteral("ListeTypeMesure_%1").arg(i)),
                                                                child<QWidget>(QStringLiteral("Frame1_%1").arg(i)),
                                                                address(i), tag(i)})
            EXPECT_EQ(control->isVisibleTo(window), selected) << control->objectName().toStdString();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    ChannelConfiguration model;
    QString programTitle;
    QByteArray stopMarker;
    QPointer<ConfigW> window;
    int serialLoads = 0;
    int mainShown = 0;
    bool loadedBeforeSettings = false;
};

} // namespace

TEST_F(ConfigWTest, LoadShowsTheFileMaximisedWithItsCaptionsAndSetsTheSharedTexts)
{
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Configuration [ Application ]  "));
    const std::pair<const char*, const char*> captions[] = {
        {"Etiquette6", "Select"},         {"Etiquette2", "Measurement type"},     {"Etiquette3", "Origin"},
        {"Etiquette4", "Identification"}, {"Etiquette5_0", "Inputs configuration"}, {"Etiquette5_1", "Inputs configuration"},
        {"Etiquette1_3", "Input 3"},      {"Label3_0", "Master"},                 {"Label3_1", "Ext."},
        {"Commande1", "OK"},              {"Commande2", "CANCEL"}};
    for (const auto& [name, text] : captions)
        EXPECT_EQ(child<QWidget>(QLatin1String(name))->property("text").toString(), QLatin1String(text)) << name;

    QComboBox* types = child<QComboBox>(QStringLiteral("ListeTypeMesure_2"));
    ASSERT_EQ(types->count(), 16);
    EXPECT_EQ(types->itemText(5), QStringLiteral("Flow "));
    EXPECT_EQ(types->itemText(15), QStringLiteral("452     "));
    EXPECT_EQ(types->currentIndex(), TypeFlow);
    EXPECT_EQ(child<QComboBox>(QStringLiteral("ListeTypeMesure_1"))->currentIndex(), -1); // no type chosen
    EXPECT_EQ(address(0)->text(), QStringLiteral("3"));
    EXPECT_EQ(tag(2)->text(), QStringLiteral("pump"));
    EXPECT_TRUE(role(0, 0)->isChecked());
    EXPECT_TRUE(role(2, 1)->isChecked() && !role(2, 0)->isChecked());
    EXPECT_FALSE(role(1, 0)->isChecked() || role(1, 1)->isChecked());
    EXPECT_TRUE(role(0, 1)->isVisible());
    for (int i = 0; i < 4; ++i)
        expectSelectionShown(i, i == 0 || i == 2);

    EXPECT_EQ(serialLoads, 1);
    EXPECT_TRUE(loadedBeforeSettings);
    EXPECT_EQ(programTitle, QStringLiteral("ZENTLOG   V 2.19"));
    EXPECT_EQ(stopMarker, QByteArray("\x1b"));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_TRUE(model.channelLabels()[0].isEmpty()); // titles wait for OK or CANCEL
}

TEST_F(ConfigWTest, RowsAreAlignedAndTheWindowFitsA1024By768Screen)
{
    const auto middle = [&](QWidget* w) { return w->mapTo(window, w->rect().center()).y(); };
    int previous = -1;
    for (int i = 0; i < 4; ++i) {
        const int line = middle(box(i));
        EXPECT_GT(line, previous);
        for (QWidget* w : std::initializer_list<QWidget*>{input(i), child<QWidget>(QStringLiteral("ListeTypeMesure_%1").arg(i)),
                                                          child<QWidget>(QStringLiteral("Frame1_%1").arg(i)), address(i),
                                                          role(i, 0), role(i, 1), tag(i)})
            EXPECT_EQ(middle(w), line) << w->objectName().toStdString();
        previous = line;
    }
    EXPECT_LE(ui::twipsToPixels(layout::kPanelWidth), 1024);
    EXPECT_LE(ui::twipsToPixels(layout::kPanelHeight), 768 - 80);
    EXPECT_GT(middle(button("Commande1")), previous);
    EXPECT_EQ(middle(button("Commande1")), middle(button("Commande2")));
}

TEST_F(ConfigWTest, EditsReachTheModelAtOnceAndADoubleQuoteIsRefused)
{
    QSignalSpy changes(&model, &ChannelConfiguration::channelChanged);
    retype(tag(0), QStringLiteral("say \"hi\" \u20ac"));
    EXPECT_EQ(tag(0)->text(), QStringLiteral("say hi \u20ac"));
    EXPECT_EQ(model.tag(0), QStringLiteral("say hi \u20ac"));
    retype(tag(0), QStringLiteral("\u03a9x")); // no byte for omega in the file's code page
    EXPECT_EQ(model.tag(0), QStringLiteral("x"));
    retype(address(2), QStringLiteral("1\"2"));
    EXPECT_EQ(model.stationAddress(2), QStringLiteral("12"));

    QComboBox* types = child<QComboBox>(QStringLiteral("ListeTypeMesure_0"));
    types->setFocus();
    QTest::keyClick(types, Qt::Key_Down);
    EXPECT_EQ(model.measurementType(0), TypeORP);

    QTest::mouseClick(role(0, 1), Qt::LeftButton);
    EXPECT_EQ(model.channel(0).role(), ChannelRole::Ext);
    EXPECT_FALSE(role(0, 0)->isChecked());
    QTest::mouseClick(role(0, 1), Qt::LeftButton); // clicking the chosen option keeps it chosen
    EXPECT_TRUE(role(0, 1)->isChecked());
    EXPECT_EQ(model.channel(0).role(), ChannelRole::Ext);
    EXPECT_GT(changes.count(), 0);
    EXPECT_EQ(readFile(path()), serializeConfig(sample())); // nothing saved before OK
}

TEST_F(ConfigWTest, ClickingAnInputLabelOrItsBoxTogglesTheRow)
{
    QTest::mouseClick(input(1), Qt::LeftButton);
    EXPECT_EQ(model.selected(1), 1);
    EXPECT_TRUE(box(1)->isChecked());
    expectSelectionShown(1, true);
    QTest::mouseClick(input(1), Qt::LeftButton);
    EXPECT_EQ(model.selected(1), 0);
    expectSelectionShown(1, false);

    QTest::mouseClick(box(2), Qt::LeftButton);
    EXPECT_EQ(model.selected(2), 0);
    expectSelectionShown(2, false);

    // A greyed box (value 2) is not selected; a click selects it.
    Channels greyed = sample();
    greyed[3].selected = 2;
    writeFile(path(), serializeConfig(greyed));
    model.LoadChannelConfig();
    EXPECT_EQ(box(3)->checkState(), Qt::PartiallyChecked);
    expectSelectionShown(3, false);
    QTest::mouseClick(box(3), Qt::LeftButton);
    EXPECT_EQ(model.selected(3), 1);
    EXPECT_EQ(box(3)->checkState(), Qt::Checked);
    expectSelectionShown(3, true);
}

TEST_F(ConfigWTest, AnAddressOutsideOneToFourteenKeepsTheFocus)
{
    activate();
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {{"0", false}, {"15", false}, {"abc", false}, {"", false}, {"1", true}, {"14", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        dialogs.clear();
        retype(address(0), QString::fromLatin1(c.text));
        QTest::keyClick(address(0), Qt::Key_Tab);
        QTest::qWait(30);
        if (c.accepted) {
            EXPECT_TRUE(dialogs.boxes.isEmpty());
            EXPECT_NE(QApplication::focusWidget(), address(0));
        } else {
            EXPECT_EQ(dialogs.beeps, 1);
            ASSERT_EQ(dialogs.boxes.size(), 1);
            EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("False address"));
            EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
            EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::Ok);
            EXPECT_EQ(QApplication::focusWidget(), address(0));
            EXPECT_EQ(address(0)->text(), QString::fromLatin1(c.text));
        }
    }
}

TEST_F(ConfigWTest, TwoBadAddressesDoNotBounceTheFocusBetweenThem)
{
    activate();
    model.setStationAddress(2, QStringLiteral("99"));
    retype(address(0), QStringLiteral("0"));
    address(2)->setFocus(Qt::MouseFocusReason); // leaves box 0 for box 2, itself wrong
    QTest::qWait(100);
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("False address")});
    EXPECT_EQ(QApplication::focusWidget(), address(0));
}

TEST_F(ConfigWTest, OkWithABadAddressInTheFocusChecksItFirstAndSavesNothing)
{
    activate();
    retype(address(0), QStringLiteral("20"));
    QTest::mouseClick(button("Commande1"), Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("False address")});
    EXPECT_EQ(readFile(path()), serializeConfig(sample()));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(mainShown, 0);
}

TEST_F(ConfigWTest, OkRefusesTwoSelectedChannelsWithTheSameAddressTextAndRole)
{
    activate();
    QTest::mouseClick(role(2, 0), Qt::LeftButton); // channel 2 becomes Master at "3", like channel 0
    address(0)->setFocus();
    button("Commande1")->click();
    EXPECT_EQ(dialogs.beeps, 1);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Addresses should be different"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
    EXPECT_EQ(QApplication::focusWidget(), address(2));
    EXPECT_EQ(readFile(path()), serializeConfig(sample()));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(mainShown, 0);
    EXPECT_TRUE(model.channelLabels()[2].isEmpty());
}

TEST_F(ConfigWTest, OkSavesWhenRolesOrAddressTextsDifferOrTheTwinIsUnselected)
{
    // Channel 2 is Ext. beside the Master channel 0, both at "3"; channel 3 (Master, "3") is not selected.
    button("Commande1")->click();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(mainShown, 1);
    EXPECT_EQ(model.channelLabels()[2], QStringLiteral("pump\r\nDaily totalization\r\nTotalization"));

    // "03" and "3" are different texts, although they mean the same station.
    window->show();
    QTest::mouseClick(role(2, 0), Qt::LeftButton);
    retype(address(2), QStringLiteral("03"));
    retype(tag(0), QStringLiteral("tank B"));
    button("Commande1")->click();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    Channels expected = sample();
    expected[2].stationAddress = QStringLiteral("03");
    expected[2].master = true;
    expected[2].ext = false;
    expected[0].tag = QStringLiteral("tank B");
    EXPECT_EQ(readFile(path()), serializeConfig(expected));
    EXPECT_EQ(model.channelLabels()[0], QStringLiteral("tank B"));
}

TEST_F(ConfigWTest, CancelGoesBackToTheFileWithItsColours)
{
    QTest::mouseClick(input(1), Qt::LeftButton);
    QTest::mouseClick(box(2), Qt::LeftButton);
    retype(tag(0), QStringLiteral("edited"));
    button("Commande2")->click();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(model.channel(i), sample()[static_cast<size_t>(i)]) << i;
    expectSelectionShown(1, false);
    expectSelectionShown(2, true);
    EXPECT_EQ(tag(0)->text(), QStringLiteral("tank A"));
    EXPECT_EQ(model.channelLabels()[0], QStringLiteral("tank A"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(mainShown, 1);
    EXPECT_EQ(readFile(path()), serializeConfig(sample()));
}

TEST_F(ConfigWTest, TheCloseBoxDestroysTheWindowAndUnloadsTheConfiguration)
{
    QSignalSpy discarded(window.data(), &ConfigW::discarded);
    retype(tag(0), QStringLiteral("unsaved"));
    window->close();
    EXPECT_EQ(discarded.count(), 1);
    EXPECT_FALSE(model.isLoaded());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(readFile(path()), serializeConfig(sample()));
    EXPECT_EQ(model.tag(0), QStringLiteral("tank A")); // no hook here: the model reads the file itself
}

namespace {

// Closes every real message box shortly after it appears, as a user pressing OK would.
class BoxCloser : public QObject {
public:
    BoxCloser()
    {
        timer_.setInterval(50);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

} // namespace

TEST(ConfigWFirstLoad, AfterABoxAboutTheFilesTheWindowComesToTheFront)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("config.txt")), "not a configuration");
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("main"));
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));

    // Real boxes, so that activation moves as it does in the program: once a box has closed,
    // no window is active until one is brought to the front.
    ui::QtDialogs dialogs;
    BoxCloser closer;
    ChannelConfiguration model(dialogs, dir.path());
    QString title;
    QByteArray stopMarker;
    int serialLoads = 0;
    auto* window = new ConfigW(ConfigW::Services{model, dialogs,
                                                 [&] {
                                                     ++serialLoads;
                                                     // "PortCom.dat" is missing as well: a second box.
                                                     dialogs.message(QStringLiteral("PortCom.dat is missing"),
                                                                     ui::Icon::Warning);
                                                 },
                                                 title, stopMarker, {}});
    const std::unique_ptr<ConfigW> owner(window);
    window->Form_Load();
    ASSERT_EQ(closer.texts.size(), 2) << closer.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(closer.texts[0].contains(QStringLiteral("config.txt")));
    EXPECT_EQ(serialLoads, 1);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(QApplication::activeWindow(), window);
}
