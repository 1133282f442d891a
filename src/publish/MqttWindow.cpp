#include "publish/MqttWindow.h"

#include "ui/Dialogs.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace publish {

namespace {

// The items of the TLS box, in this order.
enum TlsItem { TlsAutomatic, TlsOn, TlsOff };

QWidget* withBrowseButton(QWidget* parent, QLineEdit* field, QPushButton* button)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    layout->addWidget(button);
    return row;
}

} // namespace

MqttWindow::MqttWindow(Services services, QWidget* parent)
    : QDialog(parent)
    , services_(std::move(services))
{
    setObjectName(QStringLiteral("MqttWindow"));
    setWindowTitle(services_.programTitle + QStringLiteral(" [MQTT publishing]"));
    build();
    const MqttSettings stored = MqttSettings::load(services_.directory);
    if (!stored.problem.isEmpty()) {
        problem_->setText(stored.problem);
        problem_->show();
    }
    fill(stored);
}

void MqttWindow::build()
{
    // The fields scroll on a screen too short for them; OK and Cancel stay below, always in reach.
    auto* outer = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    content_ = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content_);
    layout->setContentsMargins(0, 0, 0, 0);
    problem_ = new QLabel(content_);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    problem_->hide();
    layout->addWidget(problem_);

    enabled_ = new QCheckBox(QStringLiteral("&Publish the readings to an MQTT broker"), content_);
    enabled_->setObjectName(QStringLiteral("Enabled"));
    layout->addWidget(enabled_);

    fields_ = new QWidget(content_);
    auto* form = new QFormLayout(fields_);
    form->setContentsMargins(0, 0, 0, 0);

    host_ = new QLineEdit(fields_);
    host_->setObjectName(QStringLiteral("Host"));
    host_->setMinimumWidth(320);
    form->addRow(QStringLiteral("&Host"), host_);

    port_ = new QSpinBox(fields_);
    port_->setObjectName(QStringLiteral("Port"));
    port_->setRange(0, 65535);
    port_->setToolTip(QStringLiteral("0: 1883, or 8883 with TLS"));
    form->addRow(QStringLiteral("P&ort"), port_);

    tls_ = new QComboBox(fields_);
    tls_->setObjectName(QStringLiteral("Tls"));
    tls_->addItems({QStringLiteral("Automatic (on with a CA file)"), QStringLiteral("On"), QStringLiteral("Off")});
    form->addRow(QStringLiteral("&TLS"), tls_);

    caFile_ = new QLineEdit(fields_);
    caFile_->setObjectName(QStringLiteral("CaFile"));
    caFile_->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
    auto* browseCa = new QPushButton(QStringLiteral("&Browse..."), fields_);
    browseCa->setObjectName(QStringLiteral("BrowseCaFile"));
    connect(browseCa, &QPushButton::clicked, this, [this] {
        browse(caFile_, QStringLiteral("CA file"), QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    });
    form->addRow(QStringLiteral("&CA file"), withBrowseButton(fields_, caFile_, browseCa));

    username_ = new QLineEdit(fields_);
    username_->setObjectName(QStringLiteral("UserName"));
    username_->setPlaceholderText(QStringLiteral("none"));
    form->addRow(QStringLiteral("&User name"), username_);

    passwordFile_ = new QLineEdit(fields_);
    passwordFile_->setObjectName(QStringLiteral("PasswordFile"));
    passwordFile_->setPlaceholderText(QStringLiteral("none"));
    passwordFile_->setToolTip(QStringLiteral("The password is the first line of this file, which only its owner "
                                             "should be able to read"));
    auto* browsePassword = new QPushButton(QStringLiteral("B&rowse..."), fields_);
    browsePassword->setObjectName(QStringLiteral("BrowsePasswordFile"));
    connect(browsePassword, &QPushButton::clicked, this,
            [this] { browse(passwordFile_, QStringLiteral("Password file"), QStringLiteral("All files (*)")); });
    form->addRow(QStringLiteral("Pass&word file"), withBrowseButton(fields_, passwordFile_, browsePassword));

    site_ = new QLineEdit(fields_);
    site_->setObjectName(QStringLiteral("Site"));
    // What an empty box stands for: this computer's name as the topics will show it.
    site_->setPlaceholderText(MqttSettings{}.effectiveSite());
    site_->setToolTip(QStringLiteral("The topics begin with zentlog/<site>/"));
    form->addRow(QStringLiteral("&Site"), site_);
    siteNote_ = new QLabel(fields_);
    siteNote_->setObjectName(QStringLiteral("SiteNote"));
    siteNote_->setWordWrap(true);
    siteNote_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    siteNote_->hide();
    form->addRow(QString(), siteNote_);

    qos_ = new QComboBox(fields_);
    qos_->setObjectName(QStringLiteral("Qos"));
    qos_->addItems({QStringLiteral("0 (at most once)"), QStringLiteral("1 (at least once)"),
                    QStringLiteral("2 (exactly once)")});
    form->addRow(QStringLiteral("&QoS"), qos_);

    format_ = new QComboBox(fields_);
    format_->setObjectName(QStringLiteral("Format"));
    format_->addItems({QStringLiteral("JSON"), QStringLiteral("Sparkplug B")});
    form->addRow(QStringLiteral("&Format"), format_);
    layout->addWidget(fields_);

    publishStatus_ = new QLabel(content_);
    publishStatus_->setObjectName(QStringLiteral("PublishStatus"));
    publishStatus_->setWordWrap(true);
    publishStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    publishStatus_->hide();
    layout->addWidget(publishStatus_);
    layout->addStretch();
    scroll->setWidget(content_);
    outer->addWidget(scroll, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &MqttWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MqttWindow::reject);
    buttons_ = buttons;
    outer->addWidget(buttons);

    connect(enabled_, &QCheckBox::toggled, this, &MqttWindow::updateFields);
    connect(tls_, &QComboBox::currentIndexChanged, this, &MqttWindow::updateFields);
    connect(caFile_, &QLineEdit::textChanged, this, &MqttWindow::updateFields);
    connect(site_, &QLineEdit::textChanged, this, &MqttWindow::updateFields);
}

void MqttWindow::fill(const MqttSettings& settings)
{
    enabled_->setChecked(settings.enabled);
    host_->setText(settings.host);
    port_->setValue(settings.port);
    tls_->setCurrentIndex(!settings.tls ? TlsAutomatic : (*settings.tls ? TlsOn : TlsOff));
    caFile_->setText(settings.caFile);
    username_->setText(settings.username);
    passwordFile_->setText(settings.passwordFile);
    site_->setText(settings.site);
    qos_->setCurrentIndex(settings.qos);
    format_->setCurrentIndex(settings.format == Format::Sparkplug ? 1 : 0);
    updateFields();
}

void MqttWindow::updateFields()
{
    fields_->setEnabled(enabled_->isChecked());
    const MqttSettings shown = settings();
    // The port 0 stands for the transport's default, which the box names.
    port_->setSpecialValueText(QStringLiteral("Default (%1)").arg(shown.useTls() ? 8883 : 1883));
    // Said while typing: two sites that differ only in such characters would mix their readings.
    const QString note = shown.siteRewriteNote();
    siteNote_->setText(note);
    if (siteNote_->isHidden() != note.isEmpty()) {
        siteNote_->setVisible(!note.isEmpty());
        followContentHeight();
    }
}

void MqttWindow::setPublishStatus(const PublishStatus& status)
{
    const QString text = describe(status);
    publishStatus_->setText(text);
    // No connection and no attempt under way: the readings are not reaching the broker.
    const bool failing = status.enabled && !status.connected && !status.connecting;
    publishStatus_->setStyleSheet(failing ? QStringLiteral("color: #a00000") : QString());
    if (publishStatus_->isHidden() != text.isEmpty()) {
        publishStatus_->setVisible(!text.isEmpty());
        followContentHeight();
    }
}

int MqttWindow::wantedHeight(int width) const
{
    const QMargins margins = layout()->contentsMargins();
    content_->layout()->activate();
    // The wrapped lines make the height depend on the width, while they are shown.
    QLayout* rows = content_->layout();
    const int contentHeight = rows->hasHeightForWidth() ? rows->totalHeightForWidth(width - margins.left() - margins.right())
                                                        : rows->totalSizeHint().height();
    return margins.top() + contentHeight + layout()->spacing() + buttons_->sizeHint().height() + margins.bottom();
}

void MqttWindow::followContentHeight()
{
    if (!isVisible())
        return;
    // A line shown or hidden a moment ago is in the layouts only once their requests are handled.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    // What the window would be without the lines it grew for: the user's own height.
    const int base = height() - grownBy_;
    int wanted = wantedHeight(width());
    if (const QScreen* screen = this->screen())
        wanted = ui::fittedSize({width(), wanted}, {}, screen->availableGeometry()).height();
    const int target = std::max(base, wanted);
    grownBy_ = target - base;
    if (target != height())
        resize(width(), target);
}

MqttSettings MqttWindow::settings() const
{
    MqttSettings settings;
    settings.enabled = enabled_->isChecked();
    settings.host = host_->text().trimmed();
    settings.port = port_->value();
    switch (tls_->currentIndex()) {
    case TlsOn:
        settings.tls = true;
        break;
    case TlsOff:
        settings.tls = false;
        break;
    default:
        settings.tls.reset();
    }
    settings.caFile = caFile_->text().trimmed();
    settings.username = username_->text();
    settings.passwordFile = passwordFile_->text().trimmed();
    settings.site = site_->text().trimmed();
    settings.qos = qos_->currentIndex();
    settings.format = format_->currentIndex() == 1 ? Format::Sparkplug : Format::Json;
    return settings;
}

void MqttWindow::Form_Load()
{
    if (!sized_) {
        const QMargins margins = layout()->contentsMargins();
        // Room for the vertical scroll bar, so that a short screen does not also cut the fields' right edge.
        const int width = content_->sizeHint().width() + margins.left() + margins.right()
                        + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        ui::fitToScreen(*this, {width, wantedHeight(width)}, {std::min(width, 360), 240});
        sized_ = true;
    }
    QDialog::show();
    raise();
    activateWindow();
}

void MqttWindow::browse(QLineEdit* field, const QString& caption, const QString& filter)
{
    const QString chosen = QFileDialog::getOpenFileName(this, caption, QFileInfo(field->text()).path(), filter);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

QString MqttWindow::unusableCaFile(const QString& path)
{
    // Links are followed: /etc/ssl/certs holds links to the certificates.
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The CA file \"%1\" does not exist.").arg(path);
    if (!info.isFile())
        return QStringLiteral("The CA file \"%1\" is not a regular file.").arg(path);
    if (!info.isReadable())
        return QStringLiteral("The CA file \"%1\" cannot be read.").arg(path);
    return {};
}

void MqttWindow::refuse(const QString& text, QWidget* field)
{
    services_.dialogs.message(text, ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
    field->setFocus();
}

void MqttWindow::accept()
{
    const MqttSettings chosen = settings();
    if (chosen.host.isEmpty())
        return refuse(QStringLiteral("Give the host name or address of the MQTT broker."), host_);
    const auto unfit = [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; };
    if (std::any_of(chosen.host.cbegin(), chosen.host.cend(), unfit))
        return refuse(QStringLiteral("The host \"%1\" holds a space or a control character; give the host name or "
                                     "address of the MQTT broker.")
                          .arg(chosen.host),
                      host_);
    // The files only matter while publishing is on: turning it off must never be refused
    // because a certificate has gone.
    QString passwordWarning;
    if (chosen.enabled) {
        if (!chosen.caFile.isEmpty()) {
            if (const QString why = unusableCaFile(chosen.caFile); !why.isEmpty())
                return refuse(why, caFile_);
        }
        if (!chosen.passwordFile.isEmpty()) {
            const PasswordFile password = readPasswordFile(chosen.passwordFile);
            if (!password.problem.isEmpty())
                return refuse(password.problem, passwordFile_);
            passwordWarning = password.warning;
        }
    }
    if (const QString error = chosen.save(services_.directory); !error.isEmpty()) {
        services_.dialogs.message(QStringLiteral("The MQTT settings could not be stored: %1.\n\nNothing was changed.").arg(error),
                                  ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
        return;
    }
    emit saved();
    QDialog::accept();
    // Said once stored and without waiting: the user may have good reasons for it. The box stands
    // over the window this one belongs to, since this one is gone once closed.
    if (!passwordWarning.isEmpty())
        services_.dialogs.notify(passwordWarning, ui::Icon::Warning, windowTitle(),
                                 parentWidget() ? parentWidget()->window() : nullptr);
}

} // namespace publish
