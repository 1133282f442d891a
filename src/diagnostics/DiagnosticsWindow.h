#pragma once
// The Diagnostics window: the line's counters for the four channels, updated after every channel
// visit, a Reset button, and the last failures with their time, channel and reason.

#include <QSize>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

namespace diagnostics {

class LineCounters;

class DiagnosticsWindow final : public QWidget {
    Q_OBJECT
public:
    struct Services {
        const LineCounters& counters;
        std::function<void()> reset;              // resets the counters
        std::function<QString(int)> channelName;  // the column heading of a channel (0..3)
        QString programTitle;
        // After the title: where the counters come from when they are not the window's own.
        QString titleSuffix = {};
    };
    explicit DiagnosticsWindow(Services services, QWidget* parent = nullptr);

    void Form_Load();
    // Shows the counters as they are now.
    void refresh();
    void Reset_Click();
    // A line under the tables about publishing the readings (the broker, the messages waiting);
    // hidden while the text is empty.
    void setPublishStatus(const QString& text);

    QTableWidget* Counters() const { return counters_; }
    QTableWidget* Failures() const { return failures_; }
    QPushButton* ResetButton() const { return reset_; }
    QLabel* PublishStatus() const { return publishStatus_; }

private:
    // Room for every counter row and a few failures; the smallest size still worth reading.
    static constexpr QSize kPreferredSize{820, 760};
    static constexpr QSize kMinimumSize{480, 320};

    void build();

    Services services_;
    QTableWidget* counters_ = nullptr;
    QTableWidget* failures_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* close_ = nullptr;
    QLabel* publishStatus_ = nullptr;
    bool sized_ = false;
};

// The rows of the counters table, top to bottom.
QStringList counterRowNames();

} // namespace diagnostics
