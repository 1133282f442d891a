#pragma once
// The live measurement window: one panel per selected channel, filled once a second by the
// measurement session it shows, or by the station service's feed when it views a station;
// "CANCEL" goes back to the main window, the close box ends the program.

#include "measure/MeasurementSession.h"
#include "measure/PanelAlarm.h"
#include "measure/PanelLayout.h"
#include "measure/PanelSource.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;

namespace config {
class ChannelConfiguration;
}
namespace serial {
struct SerialSettings;
}
namespace diagnostics {
class LineCounters;
}
namespace ui {
class Dialogs;
enum class Answer;
}

namespace measure {

struct MeasurementContext {
    ui::Dialogs& dialogs;
    config::ChannelConfiguration& channels;
    MeasurementFlags& flags;
    MeasurementSession& session;
    serial::SerialSettings& settings;
    QString programTitle;
    QString directory; // where "instrum1.bmp" is read; empty: the working directory
    std::function<void()> showMainWindow;
    std::function<void()> endProgram;
    // The line's counters, read for the panels' tooltips once each visit has been recorded (the
    // counters take the session's visits before the window does); may be null.
    const diagnostics::LineCounters* lineCounters = nullptr;
    // Open the Diagnostics and the Trend windows (the main window and its menus are hidden while
    // measuring); may be empty.
    std::function<void()> showDiagnostics;
    std::function<void()> showTrends;
    // Opens the Alarms window (context menu and Ctrl+A); may be empty.
    std::function<void()> showAlarms;
};

// What the window needs around it whatever it shows.
struct WindowContext {
    ui::Dialogs& dialogs;
    QString programTitle;
    QString directory; // where "instrum1.bmp" is read; empty: the working directory
    std::function<void()> showMainWindow;
    std::function<void()> endProgram;
    std::function<void()> showDiagnostics;
    std::function<void()> showTrends;
    std::function<void()> showAlarms;
};

// A value text as its value label shows it: one line per line, every blank kept.
QString valueLabelText(const QString& valueText);

class F_Mesure final : public QWidget {
    Q_OBJECT
public:
    // The window measures: it shows the session of `context`.
    explicit F_Mesure(MeasurementContext context, QWidget* parent = nullptr);
    // The window shows `source`, which it takes over.
    F_Mesure(WindowContext context, PanelSource* source, QWidget* parent = nullptr);

    // Captions, title, panel layout, and the serial port opened.
    void Form_Load();
    // Shows the panels of the selected channels with their titles, hides the others.
    void Form_Paint();
    void Minuterie1_Timer();
    // The abandon command: back to the main window, at once or after the running cycle.
    void Commande1_Click();

    QTimer& Minuterie1() { return source_->timer(); }
    QLabel* Etiquette3(int i) const { return etiquette3_[static_cast<size_t>(i)]; }
    QLabel* Etiquette1(int i) const { return etiquette1_[static_cast<size_t>(i)]; }
    QLabel* Dessin1(int i) const { return dessin1_[static_cast<size_t>(i)]; }
    QFrame* Cadre1() const { return cadre1_; }
    // The line the window shows about where its values come from (hidden while empty).
    QLabel* Notice() const { return notice_; }
    PanelSource& source() const { return *source_; }
    const PanelLayout& layout() const { return layout_; }

    // The alarms of an input, shown by a coloured ring around its bezel; the value text stays.
    void showAlarm(int channel, PanelAlarm alarm);
    PanelAlarm alarm(int channel) const { return alarms_[static_cast<size_t>(channel)]; }
    // The ring around a panel's bezel (shown while its input has an active alarm).
    QFrame* AlarmRing(int i) const { return alarmRings_[static_cast<size_t>(i)]; }
    QTimer& blinkTimer() { return blink_; }

    // The value text as the cycle produced it (CR LF between lines).
    QString valueText(int i) const { return valueTexts_[static_cast<size_t>(i)]; }

signals:
    // A measurement cycle ended after `milliseconds`.
    void cycleCompleted(qint64 milliseconds);
    // The cycle has just shown a new text (a value or "Out of order") in a channel's value label.
    void valueShown(int channel);

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void applyLayout();
    void showValue(int channel, const QString& text);
    // The panel's tooltip: why its last visit failed, and when it last had a value.
    void updateToolTip(int channel);
    // Form_Paint once the configuration is there to be read.
    void refreshPanels();
    void reportPortProblem(const QString& text);
    // Captions and panel layout from the configuration in force.
    void layOut();
    void showNotice(const QString& text);
    void placeNotice();
    void quitAnswered(ui::Answer answer);
    // The rings as the alarms and the blink's phase want them.
    void paintAlarmRings();

    WindowContext context_;
    PanelSource* source_; // a child of the window
    QPushButton* commande1_ = nullptr;
    std::array<QLabel*, 2> etiquette2_{};
    QFrame* cadre1_ = nullptr;
    QLabel* dessin2_ = nullptr;
    std::array<QLabel*, kPanelCount> etiquette3_{};
    std::array<QLabel*, kPanelCount> etiquette1_{};
    std::array<QLabel*, kPanelCount> dessin1_{};
    std::array<QFrame*, kPanelCount> alarmRings_{};
    std::array<PanelAlarm, kPanelCount> alarms_{};
    // One timer for the window, so that every blinking ring blinks in step; it runs only while
    // a ring blinks.
    QTimer blink_;
    bool blinkOn_ = true;
    QLabel* notice_ = nullptr;
    QString noticeText_; // whole, where the label may show it shortened
    std::array<QString, kPanelCount> valueTexts_{};
    PanelLayout layout_{};
    bool unloadByProgram_ = false;
    QString pendingPortMessage_; // a port problem found before the window was on screen
    bool quitQuestionOpen_ = false;
    bool ending_ = false; // the user confirmed the end of the program
};

} // namespace measure
