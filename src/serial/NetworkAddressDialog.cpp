#include "serial/NetworkAddressDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace serial {

NetworkAddressDialog::NetworkAddressDialog(const QString& device, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("NetworkAddress"));
    setWindowTitle(QStringLiteral("Network device"));
    auto* form = new QFormLayout(this);
    host_ = new QLineEdit(this);
    host_->setObjectName(QStringLiteral("Host"));
    host_->setPlaceholderText(QStringLiteral("192.168.1.40, gateway.local or fd00::12"));
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("TcpPort"));
    port_->setRange(1, 65535);
    port_->setValue(4001);
    mode_ = new QComboBox(this);
    mode_->setObjectName(QStringLiteral("Mode"));
    mode_->addItem(QStringLiteral("Serial device server, raw RTU bytes (rtu+tcp)"));
    mode_->addItem(QStringLiteral("Modbus TCP gateway (modbus+tcp)"));
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    form->addRow(QStringLiteral("&Host"), host_);
    form->addRow(QStringLiteral("TCP &port"), port_);
    form->addRow(QStringLiteral("&Mode"), mode_);
    form->addRow(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Ok"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkAddressDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetworkAddressDialog::reject);
    form->addRow(buttons);

    if (const auto given = parseNetworkDevice(device)) {
        host_->setText(given->host);
        port_->setValue(given->port);
        mode_->setCurrentIndex(given->mode == NetworkMode::ModbusTcp ? 1 : 0);
    }
    connect(host_, &QLineEdit::textChanged, this, &NetworkAddressDialog::updateProblem);
    updateProblem();
}

QString NetworkAddressDialog::device() const
{
    const NetworkDevice device{mode_->currentIndex() == 1 ? NetworkMode::ModbusTcp : NetworkMode::RawRtu,
                               host_->text().trimmed(), static_cast<uint16_t>(port_->value())};
    const QString text = networkDeviceText(device);
    return parseNetworkDevice(text) ? text : QString();
}

void NetworkAddressDialog::updateProblem()
{
    QString why;
    parseNetworkDevice(networkDeviceText({NetworkMode::RawRtu, host_->text().trimmed(), 1}), &why);
    problem_->setText(why.isEmpty() ? QString() : QStringLiteral("The address %1.").arg(why));
}

void NetworkAddressDialog::accept()
{
    if (!device().isEmpty())
        QDialog::accept();
}

} // namespace serial
