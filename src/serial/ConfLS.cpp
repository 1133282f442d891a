#include "serial/ConfLS.h"

#include "serial/DeviceChooser.h"
#include "serial/PortComFile.h"
#include "serial/DeviceLock.h"
#include "serial/NetworkDevice.h"
#include "serial/PortProbe.h"
#include "serial/SerialControl.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPort.h"
#include "serial/SerialSettings.h"
#include "ui/Dialogs.h"
#include "ui/Twips.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace serial {

namespace {

// The grid, in twips: four titled frames side by side, the three buttons centred under them.
constexpr int kMargin = 240;
constexpr int kGap = 120;
constexpr int kFrameTop = kMargin;
constexpr int kFrameHeight = 2100;
constexpr int kPortWidth = 4200;
constexpr int kRateWidth = 1500;
constexpr int kParityWidth = 1500;
constexpr int kStopWidth = 1200;
constexpr int kOptionLeft = 180;
constexpr int kOptionTop = 390;
constexpr int kOptionPitch = 390;
constexpr int kOptionHeight = 330;
constexpr int kWindowWidth = kMargin + kPortWidth + kGap + kRateWidth + kGap + kParityWidth + kGap + kStopWidth + kMargin;
constexpr int kButtonWidth = 1500;
constexpr int kButtonHeight = 480;
constexpr int kButtonGap = 240;
constexpr int kButtonTop = kFrameTop + kFrameHeight + 2 * kMargin;
constexpr int kButtonsLeft = (kWindowWidth - 3 * kButtonWidth - 2 * kButtonGap) / 2;
constexpr int kWindowHeight = kButtonTop + kButtonHeight + kMargin;
constexpr int kDevicesWidth = 1500;
constexpr int kNoteHeight = 300;

static_assert(kFrameTop + kFrameHeight + kGap + kNoteHeight < kButtonTop, "the network note stands clear of the buttons");

static_assert(kMargin + kDevicesWidth + kGap < kButtonsLeft, "Device... stands clear of the three buttons");

static_assert(kOptionTop + 3 * kOptionPitch + kOptionHeight <= kFrameHeight, "four options fit in a frame");

template <size_t N>
bool choose(const std::array<QRadioButton*, N>& options, int index)
{
    if (index < 0 || index >= static_cast<int>(N))
        return false;
    options[static_cast<size_t>(index)]->setChecked(true);
    return true;
}

} // namespace

QString ConfLS::portCaption(int port, const QString& device)
{
    const QString name = QStringLiteral("Com%1").arg(port);
    return device.isEmpty() ? name : name + QStringLiteral("  ") + device;
}

ConfLS::ConfLS(Services services, QWidget* parent)
    : QWidget(parent)
    , services_(std::move(services))
{
    setObjectName(QStringLiteral("ConfLS"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::twipsToPixels(kWindowWidth), ui::twipsToPixels(kWindowHeight));

    int left = kMargin;
    frames_[0] = buildGroup("Frame", 1, left, kPortWidth, Option1_, &ConfLS::Option1_Click);
    left += kPortWidth + kGap;
    frames_[1] = buildGroup("Frame", 2, left, kRateWidth, Option2_, &ConfLS::Option2_Click);
    left += kRateWidth + kGap;
    frames_[2] = buildGroup("Frame", 3, left, kParityWidth, Option3_, &ConfLS::Option3_Click);
    left += kParityWidth + kGap;
    frames_[3] = buildGroup("Frame", 4, left, kStopWidth, Option4_, &ConfLS::Option4_Click);

    // The captions the port, rate and stop options keep; the parity options get theirs at load.
    showPortDevices();
    for (size_t k = 0; k < Option2_.size(); ++k)
        Option2_[k]->setText(QString::fromLatin1(rateTexts[k]));
    Option4_[0]->setText(QStringLiteral("1"));
    Option4_[1]->setText(QStringLiteral("2"));

    commands_[0] = buildButton("Command", 1);
    commands_[1] = buildButton("Command", 2);
    commands_[2] = buildButton("Command", 3);
    connect(commands_[0], &QPushButton::clicked, this, &ConfLS::Command1_Click);
    connect(commands_[1], &QPushButton::clicked, this, &ConfLS::Command2_Click);
    connect(commands_[2], &QPushButton::clicked, this, &ConfLS::Command3_Click);

    // Under the frames, above the buttons, across the window: one line, whole at every scale.
    networkNote_ = new QLabel(this);
    networkNote_->setObjectName(QStringLiteral("NetworkNote"));
    networkNote_->setGeometry(
        ui::twipsRect(kMargin, kFrameTop + kFrameHeight + kGap, kWindowWidth - 2 * kMargin, kNoteHeight));
    networkNote_->setText(QStringLiteral("Network port: rate and parity are the device server's own"));
    networkNote_->setToolTip(QStringLiteral("The line settings of a serial device server or gateway are set on that "
                                            "device; these stay stored in \"PortCom.dat\" as they are."));
    networkNote_->hide();

    // Under the port frame, on the row of the three buttons.
    devices_ = new QPushButton(QStringLiteral("Device..."), this);
    devices_->setObjectName(QStringLiteral("Devices"));
    devices_->setGeometry(ui::twipsRect(kMargin, kButtonTop, kDevicesWidth, kButtonHeight));
    devices_->setToolTip(QStringLiteral("Choose the device behind each port"));
    connect(devices_, &QPushButton::clicked, this, &ConfLS::chooseDevices);
}

void ConfLS::showPortDevices()
{
    const std::array<bool, kPortCount> station = stationPorts();
    for (int p = 1; p <= kPortCount; ++p) {
        QRadioButton* option = Option1_[static_cast<size_t>(p - 1)];
        const QString device = deviceForPort(p);
        QString caption = portCaption(p, device);
        QString tip = QStringLiteral("COM%1 is %2 on this computer").arg(p).arg(device);
        if (station[static_cast<size_t>(p - 1)]) {
            // The station service measures with it: it can still be chosen for "PortCom.dat",
            // which the station reads at its next cycle.
            caption += QStringLiteral(" - station service");
            tip += QStringLiteral("; it is in use by the station service (zentlog-station), which measures with it");
        }
        option->setText(option->fontMetrics().elidedText(caption, Qt::ElideMiddle, option->width() - 30));
        option->setToolTip(tip);
    }
    showNetworkNote(); // the device of the chosen port may have changed
}

std::array<bool, kPortCount> ConfLS::stationPorts() const
{
    std::array<bool, kPortCount> held{};
    for (int p = 1; p <= kPortCount; ++p)
        held[static_cast<size_t>(p - 1)] = stationHolds(deviceForPort(p));
    return held;
}

void ConfLS::chooseDevices()
{
    if (chooser_) {
        chooser_->raise();
        chooser_->activateWindow();
        return;
    }
    auto* chooser = new DeviceChooser(
        DeviceChooser::Services{services_.dialogs, services_.directory, services_.listPorts}, this);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setWindowModality(Qt::WindowModal);
    // A port given a device that is there now can be chosen at once: the ports are probed again.
    connect(chooser, &QDialog::accepted, this, [this] {
        showPortDevices();
        probePorts();
    });
    chooser_ = chooser;
    chooser->open();
}

template <size_t N>
QGroupBox* ConfLS::buildGroup(const char* frameName, int frameIndex, int left, int width,
                              std::array<QRadioButton*, N>& options, void (ConfLS::*handler)(int))
{
    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(frameName)).arg(frameIndex));
    frame->setGeometry(ui::twipsRect(left, kFrameTop, width, kFrameHeight));
    auto* group = new QButtonGroup(frame);
    for (size_t k = 0; k < N; ++k) {
        auto* option = new QRadioButton(frame);
        option->setObjectName(QStringLiteral("Option%1_%2").arg(frameIndex).arg(k));
        option->setGeometry(ui::twipsRect(kOptionLeft, kOptionTop + static_cast<int>(k) * kOptionPitch,
                                          width - kOptionLeft - 120, kOptionHeight));
        group->addButton(option, static_cast<int>(k));
        options[k] = option;
    }
    // A handler runs whenever the group's choice changes, by the user or by the program.
    connect(group, &QButtonGroup::idToggled, this, [this, handler](int id, bool checked) {
        if (checked)
            (this->*handler)(id);
    });
    return frame;
}

QPushButton* ConfLS::buildButton(const char* name, int index)
{
    auto* button = new QPushButton(this);
    button->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(name)).arg(index));
    button->setGeometry(ui::twipsRect(kButtonsLeft + (index - 1) * (kButtonWidth + kButtonGap), kButtonTop,
                                      kButtonWidth, kButtonHeight));
    return button;
}

void ConfLS::Form_Load()
{
    setWindowTitle(QStringLiteral("Serial interface conf."));
    commands_[0]->setText(QStringLiteral("Validation"));
    commands_[1]->setText(QStringLiteral("Reading"));
    commands_[2]->setText(QStringLiteral("Cancel"));
    frames_[3]->setTitle(QStringLiteral("Stop"));
    frames_[2]->setTitle(QStringLiteral("Parity"));
    frames_[1]->setTitle(QStringLiteral("Rate"));
    frames_[0]->setTitle(QStringLiteral("Port"));
    Option3_[0]->setText(QStringLiteral("NO"));
    Option3_[1]->setText(QStringLiteral("EVEN"));
    Option3_[2]->setText(QStringLiteral("ODD"));

    LoadSerialSettings(services_.settings, services_.dialogs, services_.directory);
    if (const QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());
    show();

    probePorts();
    chooseStoredSettings();
}

void ConfLS::probePorts()
{
    std::unique_ptr<SerialControl> spare;
    if (services_.port.PortOpen() && services_.makeProbePort)
        spare = services_.makeProbePort();
    showPortDevices();
    const std::array<bool, kPortCount> usable = ProbePorts(services_.port, spare.get(), stationPorts());
    for (size_t p = 0; p < usable.size(); ++p)
        Option1_[p]->setEnabled(usable[p]);
}

void ConfLS::showAgain()
{
    show();
    raise();
    activateWindow();
}

void ConfLS::chooseStoredSettings()
{
    SerialSettings& settings = services_.settings;
    choose(Option2_, settings.rateIndex);
    choose(Option3_, settings.parityIndex);
    if (settings.parityIndex >= 0 && settings.parityIndex < static_cast<int>(parityLetters.size()))
        settings.parityLetter = parityLetters[static_cast<size_t>(settings.parityIndex)];
    settings.dataBitsText = "8";
    choose(Option4_, settings.stopIndex);

    const int stored = settings.portNumber - 1;
    if (stored >= 0 && stored < kPortCount && Option1_[static_cast<size_t>(stored)]->isEnabled()) {
        choose(Option1_, stored);
    } else {
        settings.portNumber = 1;
        choose(Option1_, 0);
    }
    showNetworkNote();
}

void ConfLS::restoreStoredSettings()
{
    LoadSerialSettings(services_.settings, services_.dialogs, services_.directory);
    chooseStoredSettings();
}

void ConfLS::Option1_Click(int index)
{
    services_.settings.portNumber = static_cast<int16_t>(index + 1);
    showNetworkNote();
}

void ConfLS::showNetworkNote()
{
    if (networkNote_ != nullptr) // not yet while the window is being built
        networkNote_->setVisible(isNetworkDevice(deviceForPort(services_.settings.portNumber)));
}

void ConfLS::Option2_Click(int index)
{
    services_.settings.rateIndex = static_cast<int16_t>(index);
    services_.settings.rateText = rateTexts[static_cast<size_t>(index)];
}

void ConfLS::Option3_Click(int index)
{
    services_.settings.parityIndex = static_cast<int16_t>(index);
    services_.settings.parityLetter = parityLetters[static_cast<size_t>(index)];
}

void ConfLS::Option4_Click(int index)
{
    services_.settings.stopIndex = static_cast<int16_t>(index);
    services_.settings.stopBitsText = stopBitsTextFor(static_cast<int16_t>(index));
}

void ConfLS::Command1_Click()
{
    // A save that failed has been reported; the window stays open so that nothing looks stored.
    if (SaveSerialSettings(services_.settings, services_.dialogs, services_.directory))
        hide();
}

void ConfLS::Command2_Click()
{
    SerialControl& port = services_.port;
    const SerialSettings& settings = services_.settings;
    if (port.PortOpen()) {
        // The open port stays open as it is; an open port is never re-configured.
        if (port.CommPort() != settings.portNumber || port.Settings() != settings.settingsString()) {
            services_.dialogs.message(
                QStringLiteral("COM%1 (%2) is already open and stays open with the settings \"%3\".\n\n"
                               "The choices made here take effect the next time the port is opened.")
                    .arg(port.CommPort())
                    .arg(port.deviceName(), QString::fromLatin1(port.Settings())),
                ui::Icon::Information);
        }
        return;
    }
    if (stationHolds(deviceForPort(settings.portNumber))) {
        // Never opened, not even tried: the station's measurement is not to be disturbed.
        services_.dialogs.message(QStringLiteral("COM%1 (%2) is in use by the station service (zentlog-station), "
                                                 "which measures with it; it is not opened here.")
                                      .arg(settings.portNumber)
                                      .arg(deviceForPort(settings.portNumber)),
                                  ui::Icon::Information);
        return;
    }
    if (OpenSerialPort(settings, port))
        return;
    services_.dialogs.beep();
    services_.dialogs.message(QStringLiteral("COM%1 (%2) could not be opened for reading.\n\n%3")
                                  .arg(settings.portNumber)
                                  .arg(deviceForPort(settings.portNumber), port.errorString()),
                              ui::Icon::Warning);
}

void ConfLS::Command3_Click()
{
    restoreStoredSettings();
    hide();
}

void ConfLS::closeEvent(QCloseEvent* event)
{
    // While a measurement cycle runs the settings are left as they are.
    if (!services_.cycleRunning || !services_.cycleRunning())
        restoreStoredSettings();
    emit discarded();
    event->accept();
}

} // namespace serial
