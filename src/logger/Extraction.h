#pragma once
// The extraction window: the user picks a logger file on a drive and either empties it (or
// creates an empty one) or extracts it to one text file per channel in the output directory.

#include "logger/Drives.h"
#include "logger/ExtractToText.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace ui {
class Dialogs;
}

namespace logger {

class DirectoryList;
class DriveList;
class FileList;

class Extraction final : public QWidget {
    Q_OBJECT
public:
    // `programTitle` goes in front of the window's title at load; `outputDirectory` receives the
    // extracted files (empty: the working directory).
    // `drives` lists the drives to offer (tests give their own).
    Extraction(ui::Dialogs& dialogs, QString programTitle, QString outputDirectory,
               std::function<QStringList()> drives = listDrives, QWidget* parent = nullptr);
    ~Extraction() override;

    // Captions, show, title, file pattern; the lists start on the current directory.
    void Form_Load();

    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();
    void Command1_Click(); // "Reset file"
    void Command2_Click(); // "Cancel"
    void Command3_Click(); // "Extraction"

    // Reset mode enables "Reset file", extraction mode "Extraction". While an extraction runs
    // neither is enabled; the mode last set applies again when it ends.
    void setResetMode(bool resetMode);
    bool extracting() const { return run_ != nullptr; }

    const QString& SelectedFile() const { return selectedFile_; }
    // Chooses a directory as the directory list would; false when it cannot be read.
    bool setDirectory(const QString& path);

    DriveList* Drive1() const { return drive1_; }
    DirectoryList* Dir1() const { return dir1_; }
    FileList* File1() const { return file1_; }
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    QPushButton* Command3() const { return command3_; }
    QLabel* Label2() const { return label2_; }
    QProgressBar* ProgressBar1() const { return progress_; }

signals:
    // An extraction ended, whatever its outcome (after its last message).
    void extractionEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build(std::function<QStringList()> drives);
    void updateButtons();
    void extractSome();
    void endExtraction();
    void showProgress(const ExtractionProgress& progress);
    void reportResetFailure(const QString& path, const QString& reason);

    ui::Dialogs& dialogs_;
    QString programTitle_;
    QString outputDirectory_;
    QString selectedFile_;
    bool resetMode_ = false;
    bool unloadWhenDone_ = false;
    std::unique_ptr<ExtractionRun> run_;
    QTimer stepTimer_;

    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    DriveList* drive1_ = nullptr;
    DirectoryList* dir1_ = nullptr;
    FileList* file1_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* lgfichier_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace logger
