#include "app/Application.h"

#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"

#include <QCoreApplication>

namespace app {

Application::Application(ui::Dialogs& dialogs, std::unique_ptr<serial::SerialControl> port, QString directory)
    : dialogs_(dialogs)
    , port_(std::move(port))
    , directory_(std::move(directory))
    , channels_(dialogs, directory_)
    , quitHandler_([] { QCoreApplication::exit(0); })
    , reader_([](int16_t, double, int16_t) { return std::optional<QString>(); })
{
}

Application::~Application()
{
    delete measurement_.data();
}

ZENTLOG& Application::mainWindow()
{
    if (!mainWindow_)
        mainWindow_ = std::make_unique<ZENTLOG>(*this);
    return *mainWindow_;
}

void Application::quit()
{
    if (port_->PortOpen())
        port_->setPortOpen(false);
    quitHandler_();
}

void Application::showSerialInterface()
{
    // The serial interface window joins here.
}

void Application::showApplicationConfig()
{
    // The application configuration window joins here.
}

void Application::startMeasurement()
{
    if (!measurement_) {
        measurement_ = new measure::F_Mesure(measure::MeasurementContext{
            dialogs_, channels_, flags_, *port_, serialSettings_, programTitle_, directory_, reader_,
            [this] { showMainWindow(); }, [this] { quit(); }});
        measurement_->setWindowState(Qt::WindowMaximized);
        measurement_->Form_Load();
    }
    measurement_->setWindowState(measurement_->windowState() | Qt::WindowMaximized);
    measurement_->show();
    measurement_->raise();
    measurement_->Minuterie1().setInterval(1000);
    measurement_->Minuterie1().start();
}

void Application::showMainWindow()
{
    mainWindow().show();
    mainWindow().raise();
}

void Application::showExtraction(bool /*resetMode*/)
{
    // The extraction window joins here.
}

} // namespace app
