#pragma once
// The choice of the device behind each of COM1..COM4, opened from the serial interface window.
// Each port has an editable list of the serial ports the system has (by their stable name under
// /dev/serial/by-id where there is one), "Default (...)", and any path typed by hand (a
// pseudo-terminal, an adapter unplugged right now). OK stores the choices in "zentlog.ini" and
// the program uses them at once; Cancel leaves everything as it was. The list follows adapters
// plugged in or out while the dialog is open. The last entry, "Network...", asks for a device
// server's or gateway's address instead.

#include "serial/PortDevices.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QTimer>

#include <array>

class QComboBox;
class QLabel;

namespace ui {
class Dialogs;
}

namespace serial {

class DeviceChooser final : public QDialog {
    Q_OBJECT
public:
    struct Services {
        ui::Dialogs& dialogs;
        QString directory;  // holds "zentlog.ini"; empty: the working directory
        PortSource listPorts; // empty: the system's list
        QString byIdDirectory = QStringLiteral("/dev/serial/by-id");
    };

    // How often the system's port list is looked at again.
    static constexpr int kRefreshMs = 2000;

    explicit DeviceChooser(Services services, QWidget* parent = nullptr);

    // The device the box of port 1..4 names; empty for the default.
    QString chosenDevice(int port) const;
    // Reads the port list again and updates the boxes when it changed, keeping what each shows.
    void refresh();

    // Checks the choices, stores them and closes; a refused choice or a failed save is told and
    // the dialog stays open.
    void accept() override;
    void setVisible(bool visible) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QString text;
        QString device;
    };
    QList<Item> itemsFor(int port) const;
    void fill(int port, const QString& device, const QString& typedText);
    void updateNote(int port);
    // "Network..." was picked in the box of `port`: asks for the address; the box shows it, or
    // what it showed before when the question is cancelled.
    void askNetworkAddress(int port);

    Services services_;
    QList<PortDescription> shown_;
    QHash<QString, QString> stableNames_;
    std::array<QComboBox*, kChoosablePorts> boxes_{};
    std::array<QLabel*, kChoosablePorts> notes_{};
    std::array<QLabel*, kChoosablePorts> noteIcons_{}; // a warning sign beside each note
    std::array<QString, kChoosablePorts> lastText_{};   // what each box showed before "Network..." 
    bool sized_ = false;
    QTimer poll_;
};

} // namespace serial
