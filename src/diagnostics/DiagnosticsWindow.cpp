#include "diagnostics/DiagnosticsWindow.h"

#include "diagnostics/LineCounters.h"
#include "ui/WindowFit.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

namespace diagnostics {

namespace {

QString count(uint64_t n)
{
    return QString::number(n);
}

QString milliseconds(std::optional<double> ms)
{
    return ms ? QString::number(*ms, 'f', 1) : QStringLiteral("-");
}

QString clockTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

uint64_t invalidOf(const ChannelCounters& c, InvalidReason reason)
{
    const auto found = c.invalid.find(reason);
    return found == c.invalid.end() ? 0 : found->second;
}

QString exceptionsOf(const ChannelCounters& c)
{
    if (c.exceptions.empty())
        return QStringLiteral("0");
    // "3 (code 2: 2, code 6: 1)": which codes matter as much as how many.
    QStringList codes;
    for (const auto& [code, n] : c.exceptions)
        codes << QStringLiteral("%1: %2").arg(code).arg(n);
    return QStringLiteral("%1 (code %2)").arg(c.exceptionTotal()).arg(codes.join(QStringLiteral(", code ")));
}

struct Row {
    const char* name;
    QString (*cell)(const ChannelCounters&);
};

const Row kRows[] = {
    {"Requests", [](const ChannelCounters& c) { return count(c.requests); }},
    {"Valid replies", [](const ChannelCounters& c) { return count(c.replies); }},
    {"No reply (time-out)", [](const ChannelCounters& c) { return count(c.noReply); }},
    {"Invalid: CRC", [](const ChannelCounters& c) { return count(invalidOf(c, InvalidReason::Crc)); }},
    {"Invalid: address", [](const ChannelCounters& c) { return count(invalidOf(c, InvalidReason::Address)); }},
    {"Invalid: function", [](const ChannelCounters& c) { return count(invalidOf(c, InvalidReason::Function)); }},
    {"Invalid: length", [](const ChannelCounters& c) { return count(invalidOf(c, InvalidReason::Length)); }},
    {"Invalid: no frame", [](const ChannelCounters& c) { return count(invalidOf(c, InvalidReason::Noise)); }},
    {"Late replies discarded", [](const ChannelCounters& c) { return count(c.lateReplies); }},
    {"Exception replies", exceptionsOf},
    {"Port lost / not open", [](const ChannelCounters& c) { return count(c.portLost + c.portClosed); }},
    {"Not sent (address, type)", [](const ChannelCounters& c) { return count(c.notSent); }},
    {"Consecutive failures", [](const ChannelCounters& c) { return count(c.consecutiveFailures); }},
    {"Last valid reading", [](const ChannelCounters& c) { return c.lastValidMs ? clockTime(*c.lastValidMs) : QStringLiteral("-"); }},
    {"Last failure", [](const ChannelCounters& c) { return c.lastFailure ? c.lastFailure->describe() : QStringLiteral("-"); }},
    {"Reply ms: minimum", [](const ChannelCounters& c) { return milliseconds(c.replyTimes.minimum()); }},
    {"Reply ms: mean", [](const ChannelCounters& c) { return milliseconds(c.replyTimes.mean()); }},
    {"Reply ms: 95th percentile", [](const ChannelCounters& c) { return milliseconds(c.replyTimes.percentile95()); }},
    {"Reply ms: maximum", [](const ChannelCounters& c) { return milliseconds(c.replyTimes.maximum()); }},
};

void setCell(QTableWidget* table, int row, int column, const QString& text)
{
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

} // namespace

QStringList counterRowNames()
{
    QStringList names;
    for (const Row& row : kRows)
        names << QString::fromLatin1(row.name);
    return names;
}

DiagnosticsWindow::DiagnosticsWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , services_(std::move(services))
{
    setObjectName(QStringLiteral("Diagnostics"));
    setWindowTitle(services_.programTitle + QStringLiteral(" [Diagnostics]") + services_.titleSuffix);
    build();
}

void DiagnosticsWindow::build()
{
    auto* layout = new QVBoxLayout(this);

    counters_ = new QTableWidget(static_cast<int>(std::size(kRows)), LineCounters::kChannelCount, this);
    counters_->setObjectName(QStringLiteral("Counters"));
    counters_->setVerticalHeaderLabels(counterRowNames());
    counters_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    counters_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    counters_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    counters_->setWordWrap(false);
    counters_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    layout->addWidget(counters_, 4);

    auto* failuresTitle = new QLabel(QStringLiteral("Last failures"), this);
    layout->addWidget(failuresTitle);
    failures_ = new QTableWidget(0, 3, this);
    failures_->setObjectName(QStringLiteral("Failures"));
    failures_->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Input"), QStringLiteral("Reason")});
    failures_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    failures_->verticalHeader()->hide();
    failures_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    failures_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    failures_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(failures_, 2);

    publishStatus_ = new QLabel(this);
    publishStatus_->setObjectName(QStringLiteral("PublishStatus"));
    publishStatus_->setWordWrap(true);
    publishStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    publishStatus_->hide();
    layout->addWidget(publishStatus_);

    auto* buttons = new QHBoxLayout;
    reset_ = new QPushButton(QStringLiteral("&Reset"), this);
    reset_->setObjectName(QStringLiteral("Reset"));
    reset_->setToolTip(QStringLiteral("Sets every counter to zero and clears the failure list"));
    connect(reset_, &QPushButton::clicked, this, &DiagnosticsWindow::Reset_Click);
    close_ = new QPushButton(QStringLiteral("&Close"), this);
    close_->setObjectName(QStringLiteral("Close"));
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    buttons->addStretch();
    buttons->addWidget(reset_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    // The tables scroll within themselves: the window may be far shorter than its rows, as on a
    // 768-pixel screen, and Reset and Close stay in reach below them.
    counters_->setMinimumHeight(counters_->horizontalHeader()->sizeHint().height() * 4);
    failures_->setMinimumHeight(failures_->horizontalHeader()->sizeHint().height() * 3);

    // A window to look at and leave: Escape closes it, as it closes a dialog.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void DiagnosticsWindow::Form_Load()
{
    refresh();
    // Sized once, on the screen it opens on; shown again, it keeps what the user made of it.
    if (!sized_) {
        ui::fitToScreen(*this, kPreferredSize, kMinimumSize);
        sized_ = true;
    }
    show();
    raise();
    activateWindow();
}

void DiagnosticsWindow::refresh()
{
    const LineCounters& counters = services_.counters;
    QStringList headings;
    for (int channel = 0; channel < LineCounters::kChannelCount; ++channel) {
        headings << (services_.channelName ? services_.channelName(channel) : QStringLiteral("Input %1").arg(channel));
        const ChannelCounters& c = counters.channel(channel);
        for (int row = 0; row < static_cast<int>(std::size(kRows)); ++row)
            setCell(counters_, row, channel, kRows[row].cell(c));
    }
    for (int channel = 0; channel < LineCounters::kChannelCount; ++channel) {
        QTableWidgetItem* heading = counters_->horizontalHeaderItem(channel);
        if (heading == nullptr || heading->text() != headings[channel])
            counters_->setHorizontalHeaderItem(channel, new QTableWidgetItem(headings[channel]));
    }

    // Newest first.
    const auto& failures = counters.recentFailures();
    failures_->setRowCount(static_cast<int>(failures.size()));
    int row = 0;
    for (auto it = failures.rbegin(); it != failures.rend(); ++it, ++row) {
        setCell(failures_, row, 0, clockTime(it->timeMs));
        setCell(failures_, row, 1, headings.value(it->channel).replace(QLatin1Char('\n'), QStringLiteral(": ")));
        setCell(failures_, row, 2, it->reason);
    }
}

void DiagnosticsWindow::setPublishStatus(const QString& text)
{
    publishStatus_->setText(text);
    publishStatus_->setVisible(!text.isEmpty());
}

void DiagnosticsWindow::Reset_Click()
{
    if (services_.reset)
        services_.reset();
    refresh();
}

} // namespace diagnostics
