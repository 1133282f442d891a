#include "logger/Extraction.h"

#include "logger/ExtractionLayout.h"
#include "logger/FileSelectionLists.h"
#include "logger/ValueText.h"
#include "ui/Dialogs.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

namespace logger {

namespace {

const QString kDefaultLoggerFile = QStringLiteral("Virlzent.log");
const QString kFileSelection = QStringLiteral("File selection");
// Long enough to convert many records at once, short enough to repaint several times a second.
constexpr std::chrono::milliseconds kStepBudget(40);

template <typename T, typename... Args>
T* named(const char* name, Args&&... args)
{
    auto* widget = new T(std::forward<Args>(args)...);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

Extraction::Extraction(ui::Dialogs& dialogs, QString programTitle, QString outputDirectory,
                       std::function<QStringList()> drives, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , dialogs_(dialogs)
    , programTitle_(std::move(programTitle))
    , outputDirectory_(std::move(outputDirectory))
{
    setObjectName(QStringLiteral("Extraction"));
    build(std::move(drives));
    stepTimer_.setInterval(0);
    connect(&stepTimer_, &QTimer::timeout, this, &Extraction::extractSome);
}

Extraction::~Extraction() = default;

void Extraction::build(std::function<QStringList()> drives)
{
    frame2_ = named<QGroupBox>("Frame2", this);
    frame1_ = named<QGroupBox>("Frame1", frame2_);
    file1_ = named<FileList>("File1", frame1_);
    drive1_ = named<DriveList>("Drive1", std::move(drives), frame1_);
    dir1_ = named<DirectoryList>("Dir1", frame1_);
    command1_ = named<QPushButton>("Command1", frame2_);
    command3_ = named<QPushButton>("Command3", frame2_);
    label2_ = named<QLabel>("Label2", this);
    progress_ = named<QProgressBar>("ProgressBar1", this);
    lgfichier_ = named<QLabel>("Lgfichier", this);
    command2_ = named<QPushButton>("Command2", this);

    for (const TwipsPlace& place : kExtractionLayout) {
        auto* widget = findChild<QWidget*>(QString::fromLatin1(place.name.data(), static_cast<qsizetype>(place.name.size())));
        widget->setGeometry(ui::twipsRect(place.left, place.top, place.width, place.height));
    }
    setFixedSize(ui::twipsToPixels(kExtractionClientWidth), ui::twipsToPixels(kExtractionClientHeight));

    label2_->setAutoFillBackground(true);
    QPalette palette = label2_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::red);
    label2_->setPalette(palette);
    label2_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label2_->setWordWrap(true);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->hide();

    connect(drive1_, &DriveList::driveChosen, this, &Extraction::Drive1_Change);
    connect(dir1_, &DirectoryList::pathChanged, this, &Extraction::Dir1_Change);
    connect(dir1_, &DirectoryList::cannotOpen, this, [this](const QString& path) {
        dialogs_.message(QStringLiteral("The directory \"%1\" cannot be read.").arg(QDir::toNativeSeparators(path)),
                         ui::Icon::Critical);
    });
    // A click, or a selection moved with the keyboard.
    connect(file1_, &QListWidget::itemClicked, this, &Extraction::File1_Click);
    connect(file1_, &QListWidget::itemSelectionChanged, this, [this] {
        if (!file1_->selectedName().isEmpty())
            File1_Click();
    });
    connect(command1_, &QPushButton::clicked, this, &Extraction::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &Extraction::Command2_Click);
    connect(command3_, &QPushButton::clicked, this, &Extraction::Command3_Click);
}

void Extraction::Form_Load()
{
    if (!setDirectory(QDir::currentPath()))
        setDirectory(QDir::homePath());

    setWindowTitle(QStringLiteral(" [logger data file]"));
    command3_->setText(QStringLiteral("Extraction"));
    frame1_->setTitle(QStringLiteral("File selection "));
    command1_->setText(QStringLiteral("Reset file"));
    command2_->setText(QStringLiteral("Cancel"));
    show();
    setWindowTitle(programTitle_ + windowTitle());
    file1_->setPattern(QStringLiteral("*.log"));
    updateButtons();
}

bool Extraction::setDirectory(const QString& path)
{
    return dir1_->setPath(path);
}

void Extraction::Drive1_Change()
{
    if (dir1_->setPath(drive1_->drive()))
        return;
    dialogs_.message(QStringLiteral("No peripheral device available"), ui::Icon::Critical);
    drive1_->showDrive(driveOf(drive1_->drives(), dir1_->path()));
}

void Extraction::Dir1_Change()
{
    file1_->setPath(dir1_->path());
    selectedFile_.clear();
    drive1_->showDrive(driveOf(drive1_->drives(), dir1_->path()));
}

void Extraction::File1_Click()
{
    selectedFile_ = file1_->selectedName();
}

void Extraction::reportResetFailure(const QString& path, const QString& reason)
{
    dialogs_.beep();
    dialogs_.message(QStringLiteral("The file \"%1\" cannot be emptied: %2.").arg(QDir::toNativeSeparators(path), reason),
                     ui::Icon::Critical);
}

void Extraction::Command1_Click()
{
    if (extracting())
        return;
    const bool noLoggerFile = file1_->count() == 0;
    if (selectedFile_.isEmpty() && !noLoggerFile) {
        dialogs_.message(kFileSelection, ui::Icon::Critical);
        return;
    }
    const QDir directory(file1_->path());

    if (noLoggerFile) {
        if (dialogs_.message(QStringLiteral("File creation ? "), ui::Icon::Question, ui::Buttons::YesNo) != ui::Answer::Yes)
            return;
        dialogs_.beep();
        const QString path = directory.filePath(kDefaultLoggerFile);
        selectedFile_ = path;
        // The list may be older than the directory: a file that appeared meanwhile is not emptied unasked.
        // A link, even one that leads nowhere, counts as a file: nothing is created through it.
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
            dialogs_.message(QStringLiteral("The file \"%1\" already exists; it was left as it is.")
                                 .arg(QDir::toNativeSeparators(path)),
                             ui::Icon::Warning);
        } else if (const QString error = EmptyLoggerFile(path); !error.isEmpty()) {
            reportResetFailure(path, error);
        }
        file1_->refresh();
        return;
    }

    // Only a name chosen in the list is ever emptied, never the directory itself.
    const QString name = file1_->selectedName();
    if (name.isEmpty()) {
        dialogs_.message(kFileSelection, ui::Icon::Critical);
        return;
    }
    if (dialogs_.message(QStringLiteral("Reset confirmation"), ui::Icon::Warning, ui::Buttons::YesNoDefaultNo) != ui::Answer::Yes)
        return;
    const QString path = directory.filePath(name);
    selectedFile_ = path;
    if (const QString error = EmptyLoggerFile(path); !error.isEmpty())
        reportResetFailure(path, error);
}

void Extraction::Command2_Click()
{
    hide();
}

void Extraction::Command3_Click()
{
    if (extracting())
        return;
    const QString name = file1_->selectedName();
    // A path kept from a reset or an earlier run is not a choice in the current list.
    if (selectedFile_.isEmpty() || name.isEmpty()) {
        dialogs_.message(kFileSelection, ui::Icon::Critical);
        return;
    }
    const QString path = QDir(file1_->path()).filePath(name);
    selectedFile_ = path;

    run_ = std::make_unique<ExtractionRun>(ExtractionSettings{path, outputDirectory_, DecimalSeparatorOf(QLocale())});
    updateButtons();
    progress_->setValue(0);
    progress_->show();
    if (!run_->start(AskWithDialogs(dialogs_))) {
        endExtraction();
        return;
    }
    stepTimer_.start();
}

void Extraction::extractSome()
{
    const bool more = run_->step(kStepBudget);
    showProgress(run_->progress());
    if (!more)
        endExtraction();
}

void Extraction::showProgress(const ExtractionProgress& progress)
{
    if (!progress.label.isEmpty())
        label2_->setText(progress.label);
    progress_->setValue(progress.bytesTotal > 0 ? static_cast<int>(progress.bytesDone * 1000 / progress.bytesTotal) : 0);
}

void Extraction::endExtraction()
{
    stepTimer_.stop();
    const ExtractionOutcome outcome = run_->finish();
    run_.reset();
    showProgress(outcome.progress);
    progress_->hide();
    updateButtons();

    dialogs_.beep();
    switch (outcome.status) {
    case ExtractionOutcome::Status::Done: {
        QString text = QStringLiteral("End of extraction");
        if (outcome.fragmentBytes > 0) {
            text += QStringLiteral("\n\nThe last %1 bytes of the logger file do not make a complete record; "
                                   "they were ignored.")
                        .arg(outcome.fragmentBytes);
        }
        dialogs_.message(text, outcome.fragmentBytes > 0 ? ui::Icon::Warning : ui::Icon::Information);
        break;
    }
    case ExtractionOutcome::Status::TooShort:
        dialogs_.message(outcome.message, ui::Icon::Warning);
        break;
    case ExtractionOutcome::Status::Refused:
    case ExtractionOutcome::Status::Failed:
        dialogs_.message(outcome.message, ui::Icon::Critical);
        break;
    }
    emit extractionEnded();
    if (unloadWhenDone_) {
        unloadWhenDone_ = false;
        close();
    }
}

void Extraction::setResetMode(bool resetMode)
{
    resetMode_ = resetMode;
    updateButtons();
}

void Extraction::updateButtons()
{
    command1_->setEnabled(!extracting() && resetMode_);
    command3_->setEnabled(!extracting() && !resetMode_);
}

void Extraction::closeEvent(QCloseEvent* event)
{
    // The run holds the window's files: the window goes once the run has ended.
    if (extracting()) {
        event->ignore();
        hide();
        unloadWhenDone_ = true;
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace logger
