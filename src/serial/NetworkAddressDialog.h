#pragma once
// The "Network..." entry of the device chooser: a device server's or gateway's host, TCP port and
// mode, written out as the port's device (rtu+tcp://HOST:PORT or modbus+tcp://HOST:PORT).

#include "serial/NetworkDevice.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace serial {

class NetworkAddressDialog final : public QDialog {
    Q_OBJECT
public:
    // Starts from `device` when it is a network address.
    explicit NetworkAddressDialog(const QString& device, QWidget* parent = nullptr);

    // The address as the fields give it; empty with the reason shown while it is no valid one.
    QString device() const;

    void accept() override;

private:
    void updateProblem();

    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QComboBox* mode_ = nullptr;
    QLabel* problem_ = nullptr;
};

} // namespace serial
