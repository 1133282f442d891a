#include "app/ZENTLOG.h"

#include "app/Application.h"
#include "app/Logo.h"
#include "ui/Dialogs.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>

namespace app {

namespace {
const QColor kPaleYellow(255, 255, 232);
}

ZENTLOG::ZENTLOG(Application& application, QWidget* parent)
    : QMainWindow(parent)
    , app_(application)
{
    setObjectName(QStringLiteral("ZENTLOG"));
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, kPaleYellow);
    client->setPalette(palette);
    setCentralWidget(client);

    picture1_ = new QLabel(client);
    picture1_->setObjectName(QStringLiteral("Picture1"));
    const QSize logoSize(ui::twipsToPixels(kLogoWidthTwips), ui::twipsToPixels(kLogoHeightTwips));
    picture1_->setPixmap(drawLogo(logoSize));
    picture1_->resize(logoSize);

    // Design-time menu names; the captions are set when the window loads.
    fichier_ = menuBar()->addMenu(QString());
    fichier_->setObjectName(QStringLiteral("Fichier"));
    addCommand(fichier_, "Quitter", &ZENTLOG::Quitter_Click);

    config_ = menuBar()->addMenu(QString());
    config_->setObjectName(QStringLiteral("Config"));
    addCommand(config_, "LS", &ZENTLOG::LS_Click);
    addCommand(config_, "ConfApp", &ZENTLOG::ConfApp_Click);
    addCommand(config_, "Mqtt", &ZENTLOG::Mqtt_Click);
    addCommand(config_, "AlarmSettings", &ZENTLOG::AlarmSettings_Click);

    mesure_ = addCommand(nullptr, "Mesure", &ZENTLOG::Mesure_Click);
    menuBar()->addAction(mesure_);

    logger_ = menuBar()->addMenu(QString());
    logger_->setObjectName(QStringLiteral("Logger"));
    addCommand(logger_, "RAZfich", &ZENTLOG::RAZfich_Click);
    addCommand(logger_, "Extract", &ZENTLOG::Extract_Click);

    history_ = menuBar()->addMenu(QString());
    history_->setObjectName(QStringLiteral("History"));
    addCommand(history_, "Export", &ZENTLOG::Export_Click);
    addCommand(history_, "Trends", &ZENTLOG::Trends_Click);

    // A command of its own beside the history: the counters describe the live line, whether or
    // not the history records anything, and a technician on site should find them at once.
    diagnostics_ = addCommand(nullptr, "Diagnostics", &ZENTLOG::Diagnostics_Click);
    menuBar()->addAction(diagnostics_);
    // Beside the Diagnostics: what needs the operator now, whether measuring here or in the station.
    alarms_ = addCommand(nullptr, "Alarms", &ZENTLOG::Alarms_Click);
    menuBar()->addAction(alarms_);

    // The size before the window is maximised: the screen's free area, so that the logo,
    // centred once from it, stands in the middle of the maximised window too.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(screen->availableSize());
    else
        resize(640, 480);
}

QAction* ZENTLOG::addCommand(QMenu* menu, const char* name, void (ZENTLOG::*handler)())
{
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    if (menu)
        menu->addAction(action);
    return action;
}

void ZENTLOG::Form_Load()
{
    show();

    const QSize outer = frameGeometry().size();
    const LogoPosition logo = centreLogo(ui::pixelsToTwips(outer.width()), ui::pixelsToTwips(outer.height()),
                                         kLogoWidthTwips, kLogoHeightTwips);
    picture1_->move(ui::twipsToPixels(logo.left), ui::twipsToPixels(logo.top));

    setWindowTitle(app_.ProgramTitle() + windowTitle());
    setWindowState(windowState() | Qt::WindowMaximized);

    fichier_->setTitle(QStringLiteral("&File"));
    findChild<QAction*>(QStringLiteral("Quitter"))->setText(QStringLiteral("&Exit"));
    config_->setTitle(QStringLiteral("&Configuration"));
    findChild<QAction*>(QStringLiteral("LS"))->setText(QStringLiteral("&Serial interface"));
    findChild<QAction*>(QStringLiteral("ConfApp"))->setText(QStringLiteral("&Application"));
    findChild<QAction*>(QStringLiteral("Mqtt"))->setText(QStringLiteral("&MQTT..."));
    findChild<QAction*>(QStringLiteral("AlarmSettings"))->setText(QStringLiteral("&Alarms..."));
    mesure_->setText(QStringLiteral("&Measurement"));
    logger_->setTitle(QStringLiteral("&Logger"));
    findChild<QAction*>(QStringLiteral("RAZfich"))->setText(QStringLiteral("&Init./Erase file"));
    findChild<QAction*>(QStringLiteral("Extract"))->setText(QStringLiteral("&Data Extraction"));
    history_->setTitle(QStringLiteral("&History"));
    findChild<QAction*>(QStringLiteral("Export"))->setText(QStringLiteral("&Export..."));
    diagnostics_->setText(QStringLiteral("&Diagnostics"));
    alarms_->setText(QStringLiteral("&Alarms"));
    findChild<QAction*>(QStringLiteral("Trends"))->setText(QStringLiteral("&Trends"));
}

void ZENTLOG::closeEvent(QCloseEvent* event)
{
    event->accept();
    app_.quit();
}

void ZENTLOG::Quitter_Click()
{
    app_.quit();
}

void ZENTLOG::LS_Click()
{
    app_.showSerialInterface();
}

void ZENTLOG::ConfApp_Click()
{
    app_.showApplicationConfig();
}

void ZENTLOG::Mqtt_Click()
{
    app_.showMqttSettings();
}

void ZENTLOG::Mesure_Click()
{
    app_.flags().StopRequest.clear();
    int selectedCount = 0;
    for (int i = 0; i < config::kChannelCount; ++i) {
        if (app_.channels().selected(i) == 1)
            ++selectedCount;
    }
    // With the station service measuring the folder the window shows what the station measures.
    if (selectedCount == 0 && !app_.stationMeasuresHere()) {
        app_.dialogs().beep();
        app_.dialogs().message(QStringLiteral("No measurement cycle configured"), ui::Icon::Warning);
        return;
    }
    app_.startMeasurement();
}

void ZENTLOG::RAZfich_Click()
{
    app_.showExtraction(true);
}

void ZENTLOG::Extract_Click()
{
    app_.showExtraction(false);
}

void ZENTLOG::Export_Click()
{
    app_.showHistoryExport();
}

void ZENTLOG::Diagnostics_Click()
{
    app_.showDiagnostics();
}

void ZENTLOG::Trends_Click()
{
    app_.showTrends();
}

void ZENTLOG::AlarmSettings_Click()
{
    app_.showAlarmSettings();
}

void ZENTLOG::Alarms_Click()
{
    app_.showAlarms();
}

} // namespace app
