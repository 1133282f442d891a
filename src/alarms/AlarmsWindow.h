#pragma once
// The Alarms window: the active and the recent alarms (input, tag, kind, state, raised at, value
// and limit, acknowledged at, cleared at), most urgent first, with "Acknowledge" for the selected
// rows and "Acknowledge all". It shows whatever list it is given: the window's own measurement or
// the station service's, whose acknowledgements then go to the station.

#include "alarms/Alarm.h"

#include <QSize>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace alarms {

class AlarmsWindow final : public QWidget {
    Q_OBJECT
public:
    struct Services {
        // The alarms to list, in any order, an alarm possibly more than once (the newest copy
        // first); empty while nothing measures.
        std::function<std::vector<Alarm>()> list;
        std::function<void(qint64 id)> acknowledge;
        std::function<void()> acknowledgeAll;
        QString programTitle;
        // After the title: where the alarms come from when they are not the window's own.
        QString titleSuffix = {};
    };
    explicit AlarmsWindow(Services services, QWidget* parent = nullptr);

    void Form_Load();
    // Shows the list as it is now, keeping the selection.
    void refresh();
    void Acknowledge_Click();
    void AcknowledgeAll_Click();
    // A line above the buttons (why nothing is listed, a station out of reach); hidden while empty.
    void setNotice(const QString& text);

    QTableWidget* Table() const { return table_; }
    QPushButton* AcknowledgeButton() const { return acknowledge_; }
    QPushButton* AcknowledgeAllButton() const { return acknowledgeAll_; }
    QLabel* Notice() const { return notice_; }
    // The alarm of a table row.
    qint64 idOfRow(int row) const;

private:
    static constexpr QSize kPreferredSize{1000, 520};
    static constexpr QSize kMinimumSize{560, 300};

    void build();
    void updateButtons();

    Services services_;
    QTableWidget* table_ = nullptr;
    QLabel* notice_ = nullptr;
    QPushButton* acknowledge_ = nullptr;
    QPushButton* acknowledgeAll_ = nullptr;
    QPushButton* close_ = nullptr;
    std::vector<Alarm> shown_;
    bool sized_ = false;
};

// The list as the window shows it: each alarm once (its first copy), those awaiting an
// acknowledgement or still active first, then the newest raised first.
std::vector<Alarm> alarmsForDisplay(const std::vector<Alarm>& list);

} // namespace alarms
