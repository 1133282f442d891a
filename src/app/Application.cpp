#include "app/Application.h"

#include "app/ZENTLOG.h"
#include "logger/Extraction.h"

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

Application::~Application()
{
    delete extraction_;
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
    // The measurement window joins here.
}

logger::Extraction* Application::extractionWindow() const
{
    return extraction_;
}

void Application::showExtraction(bool resetMode)
{
    if (!extraction_) {
        extraction_ = new logger::Extraction(dialogs_, programTitle_, directory_);
        extraction_->setAttribute(Qt::WA_DeleteOnClose);
        extraction_->Form_Load();
    } else {
        extraction_->show();
        extraction_->raise();
        extraction_->activateWindow();
    }
    // While an extraction runs neither button comes on: the mode applies when it ends.
    extraction_->setResetMode(resetMode);
}

} // namespace app
