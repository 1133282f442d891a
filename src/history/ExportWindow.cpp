#include "history/ExportWindow.h"

#include "history/HistorySchema.h"
#include "ui/Dialogs.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace history {

namespace {

// A slice of export work ends after this long, so that the measurement's tick is never held up
// by more than this (a worker thread would need its own database connection and a hand-over of
// progress and cancel for the same result; the slices keep the export on the one connection and
// the one thread that the rest of the window uses).
constexpr qint64 kSliceMs = 25;
constexpr int kProgressSteps = 1000;
constexpr qint64 kRowsBetweenClockChecks = 512;
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// A date and time field that Tab leaves at once: a QDateTimeEdit otherwise takes a Tab for each
// of its six parts, and the rest of the window is eleven presses away. The arrow keys still move
// between the parts.
class DateTimeField final : public QDateTimeEdit {
public:
    using QDateTimeEdit::QDateTimeEdit;

protected:
    bool focusNextPrevChild(bool next) override { return QAbstractSpinBox::focusNextPrevChild(next); }
};

QString channelText(int channel, const QString& tag)
{
    const QString input = QStringLiteral("Input %1").arg(channel);
    if (tag.trimmed().isEmpty())
        return input;
    QString shown = tag.trimmed();
    shown.replace(QLatin1Char('&'), QStringLiteral("&&")); // a tag's "&" is no shortcut
    return input + QStringLiteral(": ") + shown;
}

} // namespace

ExportWindow::ExportWindow(ui::Dialogs& dialogs, QString programTitle, QString directory, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , dialogs_(dialogs)
    , programTitle_(std::move(programTitle))
    , directory_(std::move(directory))
{
    setObjectName(QStringLiteral("ExportWindow"));
    build();
    sliceTimer_.setInterval(0);
    connect(&sliceTimer_, &QTimer::timeout, this, &ExportWindow::exportSome);
}

ExportWindow::~ExportWindow()
{
    // The exporter removes its temporary file as it goes.
    sliceTimer_.stop();
}

void ExportWindow::build()
{
    auto* layout = new QVBoxLayout(this);

    auto* period = new QGroupBox(tr("Period"), this);
    auto* periodLayout = new QFormLayout(period);
    from_ = new DateTimeField(period);
    from_->setObjectName(QStringLiteral("From"));
    to_ = new DateTimeField(period);
    to_->setObjectName(QStringLiteral("To"));
    for (QDateTimeEdit* edit : {from_, to_}) {
        edit->setDisplayFormat(kDateTimeFormat);
        edit->setCalendarPopup(true);
    }
    periodLayout->addRow(tr("&From:"), from_);
    periodLayout->addRow(tr("&To (excluded):"), to_);
    layout->addWidget(period);

    auto* channelBox = new QGroupBox(tr("Channels"), this);
    // Two columns: with their tags the four boxes would make the window too wide for a row.
    auto* channelLayout = new QGridLayout(channelBox);
    for (int i = 0; i < kExportChannelCount; ++i) {
        auto* box = new QCheckBox(channelText(i, {}), channelBox);
        box->setObjectName(QStringLiteral("Channel_%1").arg(i));
        channelLayout->addWidget(box, i / 2, i % 2);
        channels_[std::size_t(i)] = box;
    }
    layout->addWidget(channelBox);

    auto* formatBox = new QGroupBox(tr("Format"), this);
    auto* formatLayout = new QHBoxLayout(formatBox);
    formatXls_ = new QRadioButton(tr(".xls (tab-separated text)"), formatBox);
    formatXls_->setObjectName(QStringLiteral("FormatXls"));
    formatCsv_ = new QRadioButton(tr("CSV (UTF-8)"), formatBox);
    formatCsv_->setObjectName(QStringLiteral("FormatCsv"));
    formatLayout->addWidget(formatXls_);
    formatLayout->addWidget(formatCsv_);
    connect(formatXls_, &QRadioButton::toggled, this, &ExportWindow::formatChanged);
    layout->addWidget(formatBox);

    auto* fileRow = new QHBoxLayout;
    auto* fileLabel = new QLabel(tr("F&ile:"), this);
    target_ = new QLineEdit(this);
    target_->setObjectName(QStringLiteral("Target"));
    fileLabel->setBuddy(target_);
    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setObjectName(QStringLiteral("Browse"));
    browse_->setMaximumWidth(browse_->fontMetrics().horizontalAdvance(browse_->text()) + 24);
    connect(browse_, &QPushButton::clicked, this, &ExportWindow::Browse_Click);
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(target_, 1);
    fileRow->addWidget(browse_);
    layout->addLayout(fileRow);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("Progress"));
    progress_->setRange(0, kProgressSteps);
    progress_->setValue(0);
    layout->addWidget(progress_);

    auto* buttons = new QHBoxLayout;
    exportButton_ = new QPushButton(tr("&Export"), this);
    exportButton_->setObjectName(QStringLiteral("ExportButton"));
    exportButton_->setDefault(true);
    cancelButton_ = new QPushButton(tr("&Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    connect(exportButton_, &QPushButton::clicked, this, &ExportWindow::Export_Click);
    connect(cancelButton_, &QPushButton::clicked, this, &ExportWindow::Cancel_Click);
    buttons->addStretch(1);
    buttons->addWidget(exportButton_);
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);

    // Escape does what Cancel does: stops an export, or closes the window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &ExportWindow::Cancel_Click);
}

void ExportWindow::setChannelTags(const std::array<QString, kExportChannelCount>& tags)
{
    for (int i = 0; i < kExportChannelCount; ++i)
        channels_[std::size_t(i)]->setText(channelText(i, tags[std::size_t(i)]));
}

void ExportWindow::Form_Load()
{
    setWindowTitle(programTitle_ + tr(" [History export]"));
    // The last 24 hours, up to the next whole minute so that the latest reading is in.
    QDateTime end = QDateTime::currentDateTime();
    end = end.addSecs(60 - end.time().second()).addMSecs(-end.time().msec());
    to_->setDateTime(end);
    from_->setDateTime(end.addDays(-1));
    for (QCheckBox* box : channels_)
        box->setChecked(true);
    formatXls_->setChecked(true);
    // Beside the history, unless this user may only read that folder (the station service's, for
    // one): then in the user's own documents, where the export can be written.
    QDir targetFolder(directory_);
    if (!QFileInfo(targetFolder.absolutePath()).isWritable()) {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        targetFolder.setPath(QFileInfo(documents).isDir() ? documents : QDir::homePath());
    }
    target_->setText(QDir::toNativeSeparators(targetFolder.absoluteFilePath(QStringLiteral("history.xls"))));
    // The names the rows will carry: those the history recorded, not the configuration's, which
    // may have changed since (and whose first reading would open the configuration window).
    setChannelTags(latestTags(QDir(directory_).absoluteFilePath(QString::fromLatin1(kHistoryFileName))));
    ui::fitToScreen(*this, sizeHint().expandedTo(QSize(460, 0)), minimumSizeHint());
    show();
}

ExportFormat ExportWindow::format() const
{
    return formatCsv_->isChecked() ? ExportFormat::Csv : ExportFormat::Xls;
}

void ExportWindow::formatChanged()
{
    // A name that still carries the other format's extension follows the choice.
    const QString wanted = format() == ExportFormat::Csv ? QStringLiteral(".csv") : QStringLiteral(".xls");
    const QString other = format() == ExportFormat::Csv ? QStringLiteral(".xls") : QStringLiteral(".csv");
    QString name = target_->text();
    if (name.endsWith(other, Qt::CaseInsensitive)) {
        name.chop(other.size());
        target_->setText(name + wanted);
    }
}

void ExportWindow::Browse_Click()
{
    const QString filter = format() == ExportFormat::Csv ? tr("CSV files (*.csv)") : tr("Tab-separated text (*.xls)");
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Export to"), target_->text(), filter);
    if (!chosen.isEmpty())
        target_->setText(QDir::toNativeSeparators(chosen));
}

void ExportWindow::Export_Click()
{
    if (exporting())
        return;
    // The bar of the last export would pass for this one's while its question or its counting
    // is under way.
    progress_->setValue(0);
    bool anyChannel = false;
    for (const QCheckBox* box : channels_)
        anyChannel = anyChannel || box->isChecked();
    if (!anyChannel) {
        dialogs_.message(tr("Choose at least one channel."), ui::Icon::Warning);
        return;
    }
    if (from_->dateTime() >= to_->dateTime()) {
        dialogs_.message(tr("The start of the period must come before its end."), ui::Icon::Warning);
        return;
    }
    const QString target = target_->text().trimmed();
    if (target.isEmpty()) {
        dialogs_.message(tr("Choose the file to export to."), ui::Icon::Warning);
        return;
    }
    // A name typed by hand has had no replace question from the file dialog: it is asked here,
    // defaulting to No, since Yes replaces the file.
    const QFileInfo existing(target);
    if (existing.isFile() && !existing.isSymLink()) {
        dialogs_.ask(tr("\"%1\" already exists.\nReplace it?").arg(QDir::toNativeSeparators(target)), ui::Icon::Question,
                     ui::Buttons::YesNoDefaultNo, {}, [this](ui::Answer answer) {
                         if (answer == ui::Answer::Yes && !exporting())
                             startExport();
                     }, this);
        return;
    }
    startExport();
}

void ExportWindow::startExport()
{
    ExportRequest request;
    request.databasePath = QDir(directory_).absoluteFilePath(QString::fromLatin1(kHistoryFileName));
    request.targetPath = QDir::fromNativeSeparators(target_->text().trimmed());
    request.fromMs = from_->dateTime().toMSecsSinceEpoch();
    request.toMs = to_->dateTime().toMSecsSinceEpoch();
    for (int i = 0; i < kExportChannelCount; ++i) {
        if (channels_[std::size_t(i)]->isChecked())
            request.channels << i;
    }
    request.format = format();
    request.locale = QLocale();

    exporter_ = std::make_unique<Exporter>(std::move(request));
    progress_->setValue(0);
    // Counting the rows of a long period takes a moment before the first slice.
    progress_->repaint();
    if (!exporter_->start()) {
        finish();
        return;
    }
    setRunning(true);
    sliceTimer_.start();
}

void ExportWindow::exportSome()
{
    if (!exporter_)
        return;
    QElapsedTimer slice;
    slice.start();
    bool more = true;
    while (more && slice.elapsed() < kSliceMs)
        more = exporter_->step(kRowsBetweenClockChecks);
    const qint64 total = exporter_->total();
    progress_->setValue(total > 0 ? int(exporter_->done() * kProgressSteps / total) : 0);
    if (!more)
        finish();
}

void ExportWindow::finish()
{
    sliceTimer_.stop();
    const ExportOutcome outcome = exporter_->outcome();
    const QString target = QDir::toNativeSeparators(target_->text().trimmed());
    exporter_.reset();
    setRunning(false);
    // The boxes do not wait: the measurement may be running beside this window.
    switch (outcome.status) {
    case ExportOutcome::Status::Done:
        progress_->setValue(kProgressSteps);
        dialogs_.notify(tr("%1 readings exported to \"%2\".").arg(outcome.rows).arg(target), ui::Icon::Information, {}, this);
        break;
    case ExportOutcome::Status::Empty:
        dialogs_.notify(outcome.message + tr("\nNo file was written."), ui::Icon::Information, {}, this);
        break;
    case ExportOutcome::Status::NoHistory:
        dialogs_.notify(outcome.message, ui::Icon::Information, {}, this);
        break;
    case ExportOutcome::Status::Cancelled: progress_->setValue(0); break;
    case ExportOutcome::Status::Failed:
        progress_->setValue(0);
        dialogs_.notify(outcome.message, ui::Icon::Critical, {}, this);
        break;
    }
    emit exportEnded();
}

void ExportWindow::Cancel_Click()
{
    if (exporting()) {
        exporter_->cancel();
        finish();
        return;
    }
    close();
}

void ExportWindow::setRunning(bool running)
{
    for (QWidget* input : std::initializer_list<QWidget*>{from_, to_, formatXls_, formatCsv_, target_, browse_, exportButton_})
        input->setEnabled(!running);
    for (QCheckBox* box : channels_)
        box->setEnabled(!running);
}

void ExportWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window stops the export: no file is left of it.
    if (exporting()) {
        exporter_->cancel();
        finish();
    }
    event->accept();
}

} // namespace history
