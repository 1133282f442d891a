#pragma once
// The serial interface window: the port (COM1..COM4, each shown with the device it means), the
// rate, the parity and the stop bits. Every choice changes the program's serial settings at
// once; Validation stores them in "PortCom.dat", Cancel goes back to the stored ones, Reading
// opens the port. When the window is created it greys out the ports that cannot be opened.

#include "serial/PortDevices.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace ui {
class Dialogs;
}

namespace serial {

class SerialControl;
struct SerialSettings;

class DeviceChooser;

class ConfLS final : public QWidget {
    Q_OBJECT
public:
    // What the window needs from the program around it.
    struct Services {
        SerialSettings& settings;
        SerialControl& port;                        // the program's one serial port
        ui::Dialogs& dialogs;
        QString directory;                          // holds "PortCom.dat"; empty: the working directory
        std::function<bool()> cycleRunning;         // a measurement cycle is under way
        // A second port control for probing the other ports while the program's port is held
        // open; may be empty (they are then not probed).
        std::function<std::unique_ptr<SerialControl>()> makeProbePort;
        // The serial ports the device chooser lists; empty: the system's.
        PortSource listPorts = {};
    };

    explicit ConfLS(Services services, QWidget* parent = nullptr);

    // The load sequence: captions, "PortCom.dat", shown, port probe, stored choices.
    void Form_Load();
    // The menu command on a window that exists already (no new probe).
    void showAgain();

    // The option handlers: they run whenever the choice of their group changes.
    void Option1_Click(int index); // port
    void Option2_Click(int index); // rate
    void Option3_Click(int index); // parity
    void Option4_Click(int index); // stop bits

    void Command1_Click(); // Validation: store and hide
    void Command2_Click(); // Reading: open the port with the current settings
    void Command3_Click(); // Cancel: back to the stored settings and hide
    // "Device...": the choice of the device behind each port ("zentlog.ini").
    void chooseDevices();

    // The caption of a port option: "Com1" and the device it means.
    static QString portCaption(int port, const QString& device);

signals:
    // Closed through the close box: the window is going away; the next command creates it anew.
    void discarded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <size_t N>
    QGroupBox* buildGroup(const char* frameName, int frameIndex, int left, int width,
                          std::array<QRadioButton*, N>& options, void (ConfLS::*handler)(int));
    QPushButton* buildButton(const char* name, int index);
    // Chooses the stored rate, parity, stop bits and port (Com1 when the stored port is greyed out).
    void chooseStoredSettings();
    void restoreStoredSettings();
    // Each port option shows the device the port means now.
    void showPortDevices();
    // Greys out the ports that cannot be opened; a port the program holds open counts as usable,
    // and so does one the station service measures with, which is not touched at all.
    void probePorts();
    // Says, beside rate and parity, when the chosen port is a network device: they do not apply.
    void showNetworkNote();
    // The ports whose device the station service holds open now.
    std::array<bool, 4> stationPorts() const;

    Services services_;
    std::array<QGroupBox*, 4> frames_{};
    std::array<QRadioButton*, 4> Option1_{};
    std::array<QRadioButton*, 3> Option2_{};
    std::array<QRadioButton*, 3> Option3_{};
    std::array<QRadioButton*, 2> Option4_{};
    std::array<QPushButton*, 3> commands_{};
    QPushButton* devices_ = nullptr;
    QLabel* networkNote_ = nullptr;
    QPointer<QWidget> chooser_;
};

} // namespace serial
