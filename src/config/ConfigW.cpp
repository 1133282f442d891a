#include "config/ConfigW.h"

#include "config/AddressText.h"
#include "config/ChannelConfiguration.h"
#include "config/ConfigWLayout.h"
#include "config/MeasurementTypes.h"
#include "config/StoredTextValidator.h"
#include "ui/Dialogs.h"
#include "zentlog/Version.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>

namespace config {

namespace {

const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kGrey(128, 128, 128);
const QColor kWhite(255, 255, 255);
const QColor kTitleColour(0, 0, 128);
const QColor kShadowColour(160, 160, 160);

QString indexed(const char* name, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QRect rowRect(int i, int left, int width, int height)
{
    return ui::twipsRect(left, layout::rowTop(i) + layout::centredTop(height), width, height);
}

// A focus change the user made; the focus moving to another window (a message box among them),
// to a pop-up menu, or back by the program itself does not count as leaving the box.
bool leftByUser(Qt::FocusReason reason)
{
    return reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
        || reason == Qt::ShortcutFocusReason;
}

} // namespace

ConfigW::ConfigW(Services services, QWidget* parent)
    : QWidget(parent)
    , services_(std::move(services))
{
    using namespace layout;
    setObjectName(QStringLiteral("ConfigW"));
    setAttribute(Qt::WA_DeleteOnClose);

    panel_ = new QWidget(this);
    panel_->setObjectName(QStringLiteral("panel"));
    panel_->resize(ui::twipsToPixels(kPanelWidth), ui::twipsToPixels(kPanelHeight));
    setMinimumSize(panel_->size());

    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    for (int k = 1; k >= 0; --k) { // the shadow first, so that the title lies over it
        QLabel* title = makeLabel("Etiquette5", panel_);
        title->setObjectName(indexed("Etiquette5", k));
        title->setFont(titleFont);
        title->setAlignment(Qt::AlignCenter);
        const int offset = k == 0 ? kTitleShadowOffset : 0;
        title->setGeometry(ui::twipsRect(offset, kTitleTop + offset, kPanelWidth, kTitleHeight));
        setColour(title, QPalette::WindowText, k == 0 ? kShadowColour : kTitleColour);
        Etiquette5_[static_cast<size_t>(k)] = title;
    }

    QFont headingFont = font();
    headingFont.setBold(true);
    const auto heading = [&](const char* name, int left, int width, Qt::Alignment alignment) {
        QLabel* label = makeLabel(name, panel_);
        label->setFont(headingFont);
        label->setAlignment(alignment | Qt::AlignBottom);
        label->setGeometry(ui::twipsRect(left, kHeadingTop, width, kHeadingHeight));
        return label;
    };
    Etiquette6_ = heading("Etiquette6", kCheckLeft - 120, kInputLabelLeft + kInputLabelWidth - kCheckLeft + 120,
                          Qt::AlignLeft);
    Etiquette2_ = heading("Etiquette2", kTypeLeft, kTypeWidth, Qt::AlignLeft);
    Etiquette3_ = heading("Etiquette3", kFrameLeft, kFrameWidth, Qt::AlignLeft);
    Etiquette4_ = heading("Etiquette4", kTagLeft, kTagWidth, Qt::AlignLeft);

    validator_ = new StoredTextValidator(this);
    for (int i = 0; i < kChannels; ++i)
        buildRow(i);

    const int middle = kPanelWidth / 2;
    Commande1_ = new QPushButton(panel_);
    Commande1_->setObjectName(QStringLiteral("Commande1"));
    Commande1_->setText(QStringLiteral("OK"));
    Commande1_->setGeometry(
        ui::twipsRect(middle - kButtonGap / 2 - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight));
    connect(Commande1_, &QPushButton::clicked, this, &ConfigW::Commande1_Click);

    Commande2_ = new QPushButton(panel_);
    Commande2_->setObjectName(QStringLiteral("Commande2"));
    Commande2_->setGeometry(ui::twipsRect(middle + kButtonGap / 2, kButtonTop, kButtonWidth, kButtonHeight));
    connect(Commande2_, &QPushButton::clicked, this, &ConfigW::Commande2_Click);

    ChannelConfiguration* model = &services_.channels;
    connect(model, &ChannelConfiguration::selectionChanged, this, &ConfigW::Coche1_Click);
    connect(model, &ChannelConfiguration::channelChanged, this, &ConfigW::showChannel);
}

QLabel* ConfigW::makeLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

void ConfigW::buildRow(int i)
{
    using namespace layout;
    Row& row = rows_[static_cast<size_t>(i)];

    row.Coche1 = new QCheckBox(panel_);
    row.Coche1->setObjectName(indexed("Coche1", i));
    row.Coche1->setAutoFillBackground(true);
    row.Coche1->setBackgroundRole(QPalette::Window); // a button paints its Button colour otherwise
    setColour(row.Coche1, QPalette::Window, kWhite);
    row.Coche1->setGeometry(rowRect(i, kCheckLeft, kCheckSize, kCheckSize));
    connect(row.Coche1, &QCheckBox::clicked, this, [this, i] { onCheckBoxClicked(i); });

    row.Etiquette1 = makeLabel("Etiquette1", panel_);
    row.Etiquette1->setObjectName(indexed("Etiquette1", i));
    setColour(row.Etiquette1, QPalette::WindowText, kGrey);
    row.Etiquette1->setGeometry(rowRect(i, kInputLabelLeft, kInputLabelWidth, kControlHeight));
    row.Etiquette1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row.Etiquette1->installEventFilter(this);

    row.ListeTypeMesure = new QComboBox(panel_);
    row.ListeTypeMesure->setObjectName(indexed("ListeTypeMesure", i));
    row.ListeTypeMesure->setGeometry(rowRect(i, kTypeLeft, kTypeWidth, kControlHeight));
    row.ListeTypeMesure->setMaxVisibleItems(kMeasurementTypeCount);
    row.ListeTypeMesure->hide();
    connect(row.ListeTypeMesure, &QComboBox::activated, this,
            [this, i](int index) { services_.channels.setMeasurementType(i, static_cast<int16_t>(index)); });

    row.Frame1 = new QGroupBox(panel_);
    row.Frame1->setObjectName(indexed("Frame1", i));
    row.Frame1->setGeometry(rowRect(i, kFrameLeft, kFrameWidth, kRowHeight));
    row.Frame1->hide();

    row.AdresseStation = new QLineEdit(row.Frame1);
    row.AdresseStation->setObjectName(indexed("AdresseStation", i));
    row.AdresseStation->setGeometry(
        ui::twipsRect(kAddressLeft, centredTop(kControlHeight), kAddressWidth, kControlHeight));
    row.AdresseStation->setValidator(validator_);
    row.AdresseStation->setToolTip(QStringLiteral("Station address, %1 to %2").arg(kLowestAddress).arg(kHighestAddress));
    row.AdresseStation->installEventFilter(this);
    connect(row.AdresseStation, &QLineEdit::textEdited, this,
            [this, i](const QString& text) { services_.channels.setStationAddress(i, text); });

    for (int e = 0; e < 2; ++e) {
        const auto element = static_cast<size_t>(e);
        QRadioButton* option = new QRadioButton(row.Frame1);
        option->setObjectName(QStringLiteral("Option%1_%2").arg(i + 1).arg(e));
        // Both options of a pair may be clear; the model keeps at most one chosen.
        option->setAutoExclusive(false);
        option->setGeometry(ui::twipsRect(kRoleLeft[element], centredTop(kCheckSize), kCheckSize, kCheckSize));
        option->hide();
        connect(option, &QRadioButton::clicked, this, [this, i, e] { onRoleClicked(i, e); });
        row.Option[element] = option;

        QLabel* label = makeLabel("Label", row.Frame1);
        label->setObjectName(QStringLiteral("Label%1_%2").arg(i + 1).arg(e));
        label->setGeometry(ui::twipsRect(kRoleLeft[element] + kRoleLabelGap, centredTop(kControlHeight),
                                         kRoleLabelWidth[element], kControlHeight));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->hide();
        row.Label[element] = label;
    }

    row.Texte2 = new QLineEdit(panel_);
    row.Texte2->setObjectName(indexed("Texte2", i));
    row.Texte2->setGeometry(rowRect(i, kTagLeft, kTagWidth, kControlHeight));
    row.Texte2->setValidator(validator_);
    row.Texte2->hide();
    connect(row.Texte2, &QLineEdit::textEdited, this,
            [this, i](const QString& text) { services_.channels.setTag(i, text); });
}

void ConfigW::Form_Load()
{
    setWindowTitle(QStringLiteral("Configuration [ Application ]  "));
    for (Row& row : rows_) {
        row.Label[0]->setText(QStringLiteral("Master"));
        row.Label[1]->setText(QStringLiteral("Ext."));
    }
    Commande2_->setText(QStringLiteral("CANCEL"));
    Etiquette6_->setText(QStringLiteral("Select"));
    Etiquette4_->setText(QStringLiteral("Identification"));
    Etiquette3_->setText(QStringLiteral("Origin"));
    Etiquette2_->setText(QStringLiteral("Measurement type"));
    for (int i = 0; i < kChannels; ++i)
        rows_[static_cast<size_t>(i)].Etiquette1->setText(QStringLiteral("Input %1").arg(i));
    for (QLabel* title : Etiquette5_)
        title->setText(QStringLiteral("Inputs configuration"));

    setWindowState(windowState() | Qt::WindowMaximized);
    show();

    for (Row& row : rows_) {
        const QSignalBlocker blocker(row.ListeTypeMesure);
        for (const QString& text : measurementTypeTexts)
            row.ListeTypeMesure->addItem(text);
    }

    services_.channels.LoadChannelConfig();
    // Filling the lists chose their first entries; every control now shows the model.
    for (int i = 0; i < kChannels; ++i) {
        showChannel(i);
        Coche1_Click(i);
    }

    if (services_.loadSerialSettings)
        services_.loadSerialSettings();
    services_.programTitle = QStringLiteral("ZENTLOG  ") + QStringLiteral(" V ") + QLatin1String(zentlog::kVersionText);

    for (Row& row : rows_) {
        for (size_t e = 0; e < 2; ++e) {
            row.Option[e]->show();
            row.Label[e]->show();
        }
    }

    services_.stopMarker = QByteArray(1, '\x1b');

    // A box about "config.txt" or "PortCom.dat" above may have handed the activation back to the
    // main window when it closed; the window the user is to fill in comes to the front again.
    raise();
    activateWindow();
}

void ConfigW::showAgain()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void ConfigW::showChannel(int i)
{
    if (i < 0 || i >= kChannels)
        return;
    const ChannelConfig channel = services_.channels.channel(i);
    Row& row = rows_[static_cast<size_t>(i)];
    {
        const QSignalBlocker blocker(row.Coche1);
        row.Coche1->setCheckState(channel.selected == 1   ? Qt::Checked
                                  : channel.selected == 2 ? Qt::PartiallyChecked
                                                          : Qt::Unchecked);
    }
    {
        const QSignalBlocker blocker(row.ListeTypeMesure);
        row.ListeTypeMesure->setCurrentIndex(isMeasurementType(channel.measurementType) ? channel.measurementType : -1);
    }
    // Only a real difference is written back, so that typing keeps its cursor.
    if (row.AdresseStation->text() != channel.stationAddress)
        row.AdresseStation->setText(channel.stationAddress);
    if (row.Texte2->text() != channel.tag)
        row.Texte2->setText(channel.tag);
    row.Option[0]->setChecked(channel.master);
    row.Option[1]->setChecked(channel.ext);
}

void ConfigW::Coche1_Click(int i)
{
    if (i < 0 || i >= kChannels)
        return;
    Row& row = rows_[static_cast<size_t>(i)];
    const bool selected = services_.channels.channel(i).selected == 1;
    setColour(row.Coche1, QPalette::Window, selected ? kGreen : kWhite);
    setColour(row.Etiquette1, QPalette::WindowText, selected ? kBlue : kGrey);
    row.ListeTypeMesure->setVisible(selected);
    row.Frame1->setVisible(selected);
    row.AdresseStation->setVisible(selected);
    row.Texte2->setVisible(selected);
}

void ConfigW::onCheckBoxClicked(int i)
{
    // The box itself has already moved on; the model decides its value (a greyed box is not
    // selected, so a click selects it).
    services_.channels.setSelected(i, services_.channels.channel(i).selected == 1 ? 0 : 1);
    showChannel(i);
}

void ConfigW::Etiquette1_Click(int i)
{
    if (i < 0 || i >= kChannels)
        return;
    services_.channels.setSelected(i, services_.channels.channel(i).selected == 1 ? 0 : 1);
}

void ConfigW::onRoleClicked(int i, int element)
{
    // A click always chooses the option, as with any option button; the other one is cleared.
    services_.channels.setRoleOption(i, element, true);
    showChannel(i);
}

bool ConfigW::AdresseStation_LostFocus(int i)
{
    if (i < 0 || i >= kChannels)
        return true;
    QLineEdit* box = rows_[static_cast<size_t>(i)].AdresseStation;
    if (!box->isVisible())
        return true; // the row was deselected: its address is not in use
    const double value = addressValue(box->text());
    if (value >= kLowestAddress && value <= kHighestAddress)
        return true;
    checkingAddress_ = true;
    services_.dialogs.beep();
    services_.dialogs.message(QStringLiteral("False address"), ui::Icon::Warning);
    box->setFocus(Qt::OtherFocusReason);
    checkingAddress_ = false;
    return false;
}

bool ConfigW::settlePendingAddressCheck()
{
    if (!pendingAddressCheck_)
        return true;
    const int i = *pendingAddressCheck_;
    pendingAddressCheck_.reset();
    return AdresseStation_LostFocus(i);
}

bool ConfigW::eventFilter(QObject* watched, QEvent* event)
{
    for (int i = 0; i < kChannels; ++i) {
        const Row& row = rows_[static_cast<size_t>(i)];
        if (watched == row.AdresseStation && event->type() == QEvent::FocusOut) {
            const auto* focus = static_cast<QFocusEvent*>(event);
            // The check runs once the focus has moved on, not in the middle of the move; a
            // button pressed meanwhile runs it first (see the buttons).
            if (!checkingAddress_ && !pendingAddressCheck_ && leftByUser(focus->reason())) {
                pendingAddressCheck_ = i;
                QTimer::singleShot(0, this, [this] { settlePendingAddressCheck(); });
            }
        } else if (watched == row.Etiquette1 && event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && row.Etiquette1->rect().contains(mouse->position().toPoint()))
                Etiquette1_Click(i);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConfigW::Commande1_Click()
{
    if (!settlePendingAddressCheck())
        return;
    ChannelConfiguration& model = services_.channels;
    std::optional<int> focusChannel;
    for (int i = 0; i < kChannels; ++i) {
        for (int j = 0; j < kChannels; ++j) {
            if (i == j)
                continue;
            const bool bothSelected = model.selected(i) == 1 && model.selected(j) == 1;
            // The texts are compared, not their values: "3" and "03" are different addresses here.
            if (bothSelected && model.stationAddress(i) == model.stationAddress(j)
                && model.IsChannelMaster(i).value_or(false) == model.IsChannelMaster(j).value_or(false))
                focusChannel = i; // the highest channel involved keeps the focus
        }
    }
    if (focusChannel) {
        rows_[static_cast<size_t>(*focusChannel)].AdresseStation->setFocus(Qt::OtherFocusReason);
        services_.dialogs.beep();
        services_.dialogs.message(QStringLiteral("Addresses should be different"), ui::Icon::Warning);
        return;
    }
    // A save that failed has been reported; the window stays open with the edits.
    if (!model.SaveChannelConfig())
        return;
    model.BuildChannelLabels();
    hide();
    if (services_.showMainWindow)
        services_.showMainWindow();
}

void ConfigW::Commande2_Click()
{
    if (!settlePendingAddressCheck())
        return;
    services_.channels.LoadChannelConfig();
    services_.channels.BuildChannelLabels();
    hide();
    if (services_.showMainWindow)
        services_.showMainWindow();
}

void ConfigW::closeEvent(QCloseEvent* event)
{
    // The window goes with its unsaved edits: the controls stop following the model, and the
    // model forgets what it held, so that the next reader gets a new window loaded from the file.
    pendingAddressCheck_.reset();
    disconnect(&services_.channels, nullptr, this, nullptr);
    emit discarded();
    services_.channels.unload();
    event->accept();
}

void ConfigW::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    panel_->move(qMax(0, (width() - panel_->width()) / 2), 0);
}

} // namespace config
