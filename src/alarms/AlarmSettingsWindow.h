#pragma once
// The window "Alarms...": the limits of the inputs chosen at the top of their columns, and the
// command run at every alarm event, as they stand in "zentlog.ini". OK checks every field (a
// number, limits in order, no negative delay), stores the chosen inputs' sections and [alarms],
// and closes; a refusal names the input and the field, and the window stays open with what the
// user typed. The sections of the inputs not chosen are left as they are in the file.

#include "alarms/AlarmSettings.h"

#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace ui {
class Dialogs;
}

namespace alarms {

class AlarmSettingsWindow final : public QDialog {
    Q_OBJECT
public:
    struct Services {
        ui::Dialogs& dialogs;
        QString directory; // holds "zentlog.ini"; empty: the working directory
        QString programTitle;
        // The column headings' second line (the inputs' tags) and the inputs chosen at first
        // (those measured); empty tags and none chosen when unknown.
        std::array<QString, kInputCount> tags = {};
        std::array<bool, kInputCount> chosen = {};
    };

    explicit AlarmSettingsWindow(Services services, QWidget* parent = nullptr);

    void Form_Load();
    void accept() override;

    // The keys edited, top to bottom, as "zentlog.ini" names them.
    static const QStringList& fieldNames();
    QLineEdit* field(int input, const QString& key) const;
    QCheckBox* inputChoice(int input) const { return choices_[static_cast<size_t>(input)]; }
    QLineEdit* commandField() const { return command_; }
    QLabel* Problem() const { return problem_; }

signals:
    // The settings were stored in "zentlog.ini".
    void saved();

private:
    void build();
    void fill(const AlarmSettings& settings);
    void updateColumns();
    // The limits typed for `input`, or the refusal naming the field.
    std::optional<InputLimits> typedLimits(int input, QString& refusal, QLineEdit*& culprit) const;
    void refuse(const QString& text, QWidget* field);

    Services services_;
    std::array<QCheckBox*, kInputCount> choices_{};
    std::array<std::array<QLineEdit*, 11>, kInputCount> fields_{};
    QLineEdit* command_ = nullptr;
    QLabel* problem_ = nullptr;
    bool sized_ = false;
};

} // namespace alarms
