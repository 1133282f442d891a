#include "app/Application.h"

#include "app/ZENTLOG.h"

#include <QCoreApplication>

namespace app {

Application::Application(ui::Dialogs& dialogs, std::unique_ptr<serial::SerialControl> port, QString directory)
    : dialogs_(dialogs)
    , port_(std::move(port))
    , directory_(std::move(directory))
    , channels_(dialogs, directory_)
    , quitHandler_([] { QCoreApplication::exit(0); })
{
}

Application::~Application() = default;

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
    // The measurement window joins here.
}

void Application::showExtraction(bool /*resetMode*/)
{
    // The extraction window joins here.
}

} // namespace app
