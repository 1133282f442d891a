#pragma once
// The export window: the user picks a period, channels, a format and a file, and exports the
// recorded readings there. The export runs on the interface thread in slices of a few
// milliseconds, so that the measurement keeps its one-second ticks and Cancel answers at once.

#include "history/Export.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QDateTimeEdit;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace ui {
class Dialogs;
}

namespace history {

class ExportWindow final : public QWidget {
    Q_OBJECT
public:
    // `directory` holds "history.sqlite" and is where the export goes by default (empty: the
    // working directory). `programTitle` goes in front of the window's title.
    ExportWindow(ui::Dialogs& dialogs, QString programTitle, QString directory, QWidget* parent = nullptr);
    ~ExportWindow() override;

    // Captions, defaults (the last 24 hours, every channel, ".xls"), a size that fits the
    // screen, show.
    void Form_Load();
    // Tags shown beside "Input 0" .. "Input 3" (Form_Load shows those of the latest readings).
    void setChannelTags(const std::array<QString, kExportChannelCount>& tags);

    void Export_Click();
    void Cancel_Click();
    void Browse_Click();

    bool exporting() const { return exporter_ != nullptr; }

    QDateTimeEdit* From() const { return from_; }
    QDateTimeEdit* To() const { return to_; }
    QCheckBox* Channel(int i) const { return channels_[std::size_t(i)]; }
    QRadioButton* FormatXls() const { return formatXls_; }
    QRadioButton* FormatCsv() const { return formatCsv_; }
    QLineEdit* Target() const { return target_; }
    QProgressBar* Progress() const { return progress_; }
    QPushButton* ExportButton() const { return exportButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

signals:
    // An export ended, whatever its outcome (after its message).
    void exportEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void startExport();
    void exportSome();
    void finish();
    void setRunning(bool running);
    void formatChanged();
    ExportFormat format() const;

    ui::Dialogs& dialogs_;
    QString programTitle_;
    QString directory_;
    std::unique_ptr<Exporter> exporter_;
    QTimer sliceTimer_;

    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    std::array<QCheckBox*, kExportChannelCount> channels_{};
    QRadioButton* formatXls_ = nullptr;
    QRadioButton* formatCsv_ = nullptr;
    QLineEdit* target_ = nullptr;
    QPushButton* browse_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace history
