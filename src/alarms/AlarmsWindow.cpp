#include "alarms/AlarmsWindow.h"

#include "ui/WindowFit.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace alarms {

namespace {

enum Column { Input, Tag, Kind, State, Raised, Value, Limit, Acknowledged, Cleared, ColumnCount };

const QColor kAmberRow(255, 228, 160);
const QColor kRedRow(255, 190, 190);

QString clockTime(const std::optional<qint64>& ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString number(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'g', 8) : QStringLiteral("-");
}

QString stateText(AlarmState state)
{
    switch (state) {
    case AlarmState::ActiveUnacknowledged:
        return QStringLiteral("Active, unacknowledged");
    case AlarmState::ActiveAcknowledged:
        return QStringLiteral("Active, acknowledged");
    case AlarmState::ClearedUnacknowledged:
        return QStringLiteral("Cleared, unacknowledged");
    case AlarmState::Normal:
        break;
    }
    return QStringLiteral("Over");
}

// Unacknowledged first (they want someone), then active, then the rest.
int urgency(const Alarm& alarm)
{
    return (alarm.acknowledged() ? 0 : 2) + (alarm.active() ? 1 : 0);
}

} // namespace

std::vector<Alarm> alarmsForDisplay(const std::vector<Alarm>& list)
{
    std::vector<Alarm> shown;
    QSet<qint64> seen;
    for (const Alarm& alarm : list) {
        if (!seen.contains(alarm.id)) {
            seen.insert(alarm.id);
            shown.push_back(alarm);
        }
    }
    std::stable_sort(shown.begin(), shown.end(), [](const Alarm& a, const Alarm& b) {
        if (urgency(a) != urgency(b))
            return urgency(a) > urgency(b);
        return a.raisedMs != b.raisedMs ? a.raisedMs > b.raisedMs : a.id > b.id;
    });
    return shown;
}

AlarmsWindow::AlarmsWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , services_(std::move(services))
{
    setObjectName(QStringLiteral("Alarms"));
    setWindowTitle(services_.programTitle + QStringLiteral(" [Alarms]") + services_.titleSuffix);
    build();
}

void AlarmsWindow::build()
{
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("AlarmTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Input"), QStringLiteral("Tag"), QStringLiteral("Kind"),
                                       QStringLiteral("State"), QStringLiteral("Raised at"), QStringLiteral("Value"),
                                       QStringLiteral("Limit"), QStringLiteral("Acknowledged at"),
                                       QStringLiteral("Cleared at")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->verticalHeader()->hide();
    table_->setWordWrap(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &AlarmsWindow::updateButtons);
    layout->addWidget(table_, 1);

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("Notice"));
    notice_->setWordWrap(true);
    notice_->hide();
    layout->addWidget(notice_);

    auto* buttons = new QHBoxLayout;
    acknowledge_ = new QPushButton(QStringLiteral("&Acknowledge"), this);
    acknowledge_->setObjectName(QStringLiteral("Acknowledge"));
    acknowledge_->setToolTip(QStringLiteral("Acknowledges the selected alarms; an active alarm stays active"));
    connect(acknowledge_, &QPushButton::clicked, this, &AlarmsWindow::Acknowledge_Click);
    acknowledgeAll_ = new QPushButton(QStringLiteral("Acknowledge a&ll"), this);
    acknowledgeAll_->setObjectName(QStringLiteral("AcknowledgeAll"));
    connect(acknowledgeAll_, &QPushButton::clicked, this, &AlarmsWindow::AcknowledgeAll_Click);
    close_ = new QPushButton(QStringLiteral("&Close"), this);
    close_->setObjectName(QStringLiteral("Close"));
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(acknowledge_);
    buttons->addWidget(acknowledgeAll_);
    buttons->addStretch();
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    table_->setMinimumHeight(table_->horizontalHeader()->sizeHint().height() * 4);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void AlarmsWindow::Form_Load()
{
    refresh();
    if (!sized_) {
        ui::fitToScreen(*this, kPreferredSize, kMinimumSize);
        sized_ = true;
    }
    show();
    raise();
    activateWindow();
}

qint64 AlarmsWindow::idOfRow(int row) const
{
    return row >= 0 && row < static_cast<int>(shown_.size()) ? shown_[static_cast<size_t>(row)].id : 0;
}

void AlarmsWindow::refresh()
{
    QSet<qint64> selected;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        selected.insert(idOfRow(index.row()));

    shown_ = alarmsForDisplay(services_.list ? services_.list() : std::vector<Alarm>{});
    const QSignalBlocker blocker(table_);
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(shown_.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
        const Alarm& alarm = shown_[static_cast<size_t>(row)];
        const bool failing = alarm.kind == AlarmKind::Failing;
        const QString cells[ColumnCount] = {
            QStringLiteral("Input %1").arg(alarm.input),
            alarm.tag.trimmed(),
            kindName(alarm.kind),
            stateText(alarm.state()),
            clockTime(alarm.raisedMs),
            number(alarm.value),
            // A failing input's limit is the time it may go without a valid reading.
            failing && alarm.limit ? QStringLiteral("%1 s").arg(number(alarm.limit)) : number(alarm.limit),
            clockTime(alarm.acknowledgedMs),
            clockTime(alarm.clearedMs),
        };
        QFont font = table_->font();
        font.setBold(!alarm.acknowledged());
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setFont(font);
            // The panels' colours, for the alarms that are still active.
            if (alarm.active())
                item->setBackground(isSevere(alarm.kind) ? kRedRow : kAmberRow);
            table_->setItem(row, column, item);
        }
        if (selected.contains(alarm.id))
            table_->selectRow(row);
    }
    updateButtons();
}

void AlarmsWindow::updateButtons()
{
    bool anySelected = false;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        const auto row = static_cast<size_t>(index.row());
        anySelected = anySelected || (row < shown_.size() && !shown_[row].acknowledged());
    }
    acknowledge_->setEnabled(anySelected && services_.acknowledge);
    acknowledgeAll_->setEnabled(services_.acknowledgeAll
                                && std::any_of(shown_.begin(), shown_.end(),
                                               [](const Alarm& alarm) { return !alarm.acknowledged(); }));
}

void AlarmsWindow::Acknowledge_Click()
{
    if (!services_.acknowledge)
        return;
    std::vector<qint64> ids;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        const auto row = static_cast<size_t>(index.row());
        if (row < shown_.size() && !shown_[row].acknowledged())
            ids.push_back(shown_[row].id);
    }
    for (qint64 id : ids)
        services_.acknowledge(id);
    refresh();
}

void AlarmsWindow::AcknowledgeAll_Click()
{
    if (services_.acknowledgeAll)
        services_.acknowledgeAll();
    refresh();
}

void AlarmsWindow::setNotice(const QString& text)
{
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
}

} // namespace alarms
