#include "serial/DeviceChooser.h"

#include "serial/NetworkAddressDialog.h"
#include "serial/NetworkDevice.h"
#include "ui/Dialogs.h"
#include "ui/WindowFit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace serial {

namespace {

// Notes and problems stand out from the explanations around them.
constexpr auto kWarningStyle = "color: #a00000";
// The data of the "Network..." entry: no device can be named so.
constexpr auto kNetworkEntry = "\nnetwork";

QString defaultText(int port)
{
    return QStringLiteral("Default (%1)").arg(defaultDevice(port));
}

// "/dev/serial/by-id/usb-FTDI...  (ttyUSB0: FT232R USB UART, FTDI, A12345)"
QString describe(const PortDescription& port, const QString& path)
{
    QStringList details;
    for (const QString& detail : {port.description, port.manufacturer, port.serialNumber}) {
        if (!detail.trimmed().isEmpty())
            details << detail.trimmed();
    }
    QString text = path + QStringLiteral("  (") + port.portName;
    if (!details.isEmpty())
        text += QStringLiteral(": ") + details.join(QStringLiteral(", "));
    return text + u')';
}

} // namespace

DeviceChooser::DeviceChooser(Services services, QWidget* parent)
    : QDialog(parent)
    , services_(std::move(services))
{
    setObjectName(QStringLiteral("DeviceChooser"));
    setWindowTitle(QStringLiteral("Serial devices"));
    if (!services_.listPorts)
        services_.listPorts = systemSerialPorts;

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("The device behind each port. A USB adapter is best chosen by its name under "
                       "/dev/serial/by-id: that name stays the same in any USB socket."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    const PortChoices stored = PortChoices::load(services_.directory);
    if (!stored.problem.isEmpty()) {
        auto* problem = new QLabel(stored.problem, this);
        problem->setObjectName(QStringLiteral("Problem"));
        problem->setWordWrap(true);
        problem->setStyleSheet(QLatin1String(kWarningStyle));
        layout->addWidget(problem);
    }

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    const QPixmap warning = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(iconSize);
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const auto k = static_cast<size_t>(port - 1);
        auto* label = new QLabel(QStringLiteral("COM%1").arg(port), this);
        auto* box = new QComboBox(this);
        box->setObjectName(QStringLiteral("Device%1").arg(port));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMinimumContentsLength(48);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        label->setBuddy(box);
        box->lineEdit()->installEventFilter(this);
        auto* note = new QLabel(this);
        note->setObjectName(QStringLiteral("Note%1").arg(port));
        note->setWordWrap(true);
        note->setStyleSheet(QLatin1String(kWarningStyle));
        note->hide();
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("NoteIcon%1").arg(port));
        icon->setPixmap(warning);
        icon->hide();
        boxes_[k] = box;
        notes_[k] = note;
        noteIcons_[k] = icon;
        grid->addWidget(label, 2 * (port - 1), 0);
        grid->addWidget(box, 2 * (port - 1), 1);
        grid->addWidget(icon, 2 * (port - 1) + 1, 0, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(note, 2 * (port - 1) + 1, 1);
    }
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeviceChooser::reject);
    layout->addWidget(buttons);

    shown_ = services_.listPorts();
    stableNames_ = stableNames(services_.byIdDirectory);
    for (int port = 1; port <= kChoosablePorts; ++port) {
        fill(port, stored.devices[static_cast<size_t>(port - 1)], {});
        QComboBox* box = boxes_[static_cast<size_t>(port - 1)];
        lastText_[static_cast<size_t>(port - 1)] = box->currentText();
        connect(box, &QComboBox::currentTextChanged, this, [this, port] { updateNote(port); });
        connect(box, &QComboBox::activated, this, [this, port, box](int index) {
            if (box->itemData(index).toString() == QLatin1String(kNetworkEntry))
                askNetworkAddress(port);
        });
        updateNote(port);
    }

    poll_.setInterval(kRefreshMs);
    connect(&poll_, &QTimer::timeout, this, &DeviceChooser::refresh);
    poll_.start();
}

QList<DeviceChooser::Item> DeviceChooser::itemsFor(int port) const
{
    QList<Item> items{{defaultText(port), QString()}};
    for (const PortDescription& description : shown_) {
        const QString canonical = QFileInfo(description.systemLocation).canonicalFilePath();
        const QString path = stableNames_.value(canonical.isEmpty() ? description.systemLocation : canonical,
                                                description.systemLocation);
        items.append({describe(description, path), path});
    }
    items.append({QStringLiteral("Network..."), QString::fromLatin1(kNetworkEntry)});
    return items;
}

void DeviceChooser::fill(int port, const QString& device, const QString& typedText)
{
    QComboBox* box = boxes_[static_cast<size_t>(port - 1)];
    const QSignalBlocker quiet(box);
    box->clear();
    int selected = -1;
    for (const Item& item : itemsFor(port)) {
        box->addItem(item.text, item.device);
        if (typedText.isEmpty() && item.device == device && selected < 0)
            selected = box->count() - 1;
    }
    if (selected >= 0)
        box->setCurrentIndex(selected);
    else
        box->setEditText(typedText.isEmpty() ? device : typedText);
}

QString DeviceChooser::chosenDevice(int port) const
{
    if (port < 1 || port > kChoosablePorts)
        return {};
    const QComboBox* box = boxes_[static_cast<size_t>(port - 1)];
    const QString text = box->currentText();
    // A listed port is shown with its description; the device is the item's.
    const int item = box->findText(text, Qt::MatchExactly);
    if (item >= 0)
        return box->itemData(item).toString();
    return text.trimmed();
}

void DeviceChooser::refresh()
{
    const QList<PortDescription> ports = services_.listPorts();
    const QHash<QString, QString> names = stableNames(services_.byIdDirectory);
    if (ports == shown_ && names == stableNames_)
        return;
    // What each box shows is kept: a listed port stays chosen by its device (even when it is
    // gone from the list now), a typed path stays exactly as typed.
    std::array<QString, kChoosablePorts> devices;
    std::array<QString, kChoosablePorts> typed;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const auto k = static_cast<size_t>(port - 1);
        const QComboBox* box = boxes_[k];
        if (box->findText(box->currentText(), Qt::MatchExactly) >= 0)
            devices[k] = chosenDevice(port);
        else
            typed[k] = box->currentText();
    }
    shown_ = ports;
    stableNames_ = names;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const auto k = static_cast<size_t>(port - 1);
        QLineEdit* edit = boxes_[k]->lineEdit();
        const int cursor = edit->cursorPosition();
        fill(port, devices[k], typed[k]);
        if (!typed[k].isEmpty())
            edit->setCursorPosition(cursor);
        updateNote(port);
    }
}

void DeviceChooser::askNetworkAddress(int port)
{
    const auto k = static_cast<size_t>(port - 1);
    auto* ask = new NetworkAddressDialog(lastText_[k], this);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QDialog::finished, this, [this, ask, k](int result) {
        const QString text = result == QDialog::Accepted ? ask->device() : lastText_[k];
        boxes_[k]->setEditText(text);
    });
    ask->open();
}

void DeviceChooser::updateNote(int port)
{
    if (const QString text = boxes_[static_cast<size_t>(port - 1)]->currentText(); text != QLatin1String("Network..."))
        lastText_[static_cast<size_t>(port - 1)] = text;
    QStringList notes;
    if (const QString overridden = environmentDevice(port); !overridden.isEmpty())
        notes << QStringLiteral("%1 is set: it takes precedence (%2 is used).").arg(environmentVariable(port), overridden);
    const QString device = chosenDevice(port);
    if (!device.isEmpty()) {
        if (const QString why = unusableDevice(device); !why.isEmpty()) {
            notes << QStringLiteral("This name %1.").arg(why);
        } else if (!isNetworkDevice(device)) {
            const DeviceCheck check = checkDevice(device);
            if (check.kind == DeviceKind::Missing)
                notes << QStringLiteral("This device is not there now (an adapter unplugged?); it can be chosen all the same.");
            else if (check.kind == DeviceKind::NotADevice)
                notes << QStringLiteral("This is %1, not a serial port.").arg(check.what);
        }
    }
    QLabel* note = notes_[static_cast<size_t>(port - 1)];
    note->setText(notes.join(u' '));
    if (note->isVisibleTo(this) == notes.isEmpty()) {
        note->setVisible(!notes.isEmpty());
        noteIcons_[static_cast<size_t>(port - 1)]->setVisible(!notes.isEmpty());
        // A note that comes up takes room: the dialog grows rather than cut it off, as far as
        // its screen allows.
        if (QLayout* rows = layout(); rows && isVisible()) {
            rows->activate();
            QSize wanted(width(), std::max(height(), sizeHint().height()));
            if (const QScreen* screen = this->screen())
                wanted = ui::fittedSize(wanted, {}, screen->availableGeometry());
            resize(wanted);
        }
    }
}

void DeviceChooser::setVisible(bool visible)
{
    // Sized when it first opens, on the screen it opens on, with the notes it has then.
    if (visible && !sized_) {
        ui::fitToScreen(*this, sizeHint(), minimumSizeHint());
        sized_ = true;
    }
    QDialog::setVisible(visible);
}

bool DeviceChooser::eventFilter(QObject* watched, QEvent* event)
{
    // A click into a box that shows a listed port selects its text, so that a path typed by hand
    // replaces it instead of being added after "Default (/dev/ttyS0)".
    if (event->type() == QEvent::MouseButtonRelease) {
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
            const auto* box = qobject_cast<QComboBox*>(edit->parentWidget());
            if (box && !edit->hasSelectedText() && box->findText(edit->text(), Qt::MatchExactly) >= 0)
                edit->selectAll();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DeviceChooser::accept()
{
    PortChoices choices;
    for (int port = 1; port <= kChoosablePorts; ++port) {
        const QString device = chosenDevice(port);
        QString refusal;
        if (device.isEmpty()) {
            // the default
        } else if (const QString why = unusableDevice(device); !why.isEmpty()) {
            refusal = QStringLiteral("The device of COM%1, \"%2\", %3.").arg(port).arg(device, why);
        } else if (const DeviceCheck check = checkDevice(device); check.kind == DeviceKind::NotADevice) {
            refusal = QStringLiteral("The device of COM%1, \"%2\", is %3: it is no serial port.")
                          .arg(port)
                          .arg(device, check.what);
        }
        if (!refusal.isEmpty()) {
            services_.dialogs.message(refusal + QStringLiteral("\n\nChoose a serial device, or the default."),
                                      ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
            boxes_[static_cast<size_t>(port - 1)]->setFocus();
            return;
        }
        choices.devices[static_cast<size_t>(port - 1)] = device;
    }
    if (const QString error = choices.save(services_.directory); !error.isEmpty()) {
        services_.dialogs.message(QStringLiteral("The devices could not be stored: %1.\n\nNothing was changed.").arg(error),
                                  ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
        return;
    }
    useChosenDevices(choices);
    QDialog::accept();
}

} // namespace serial
