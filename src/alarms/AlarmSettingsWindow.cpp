#include "alarms/AlarmSettingsWindow.h"

#include "ui/Dialogs.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace alarms {

namespace {

// The rows, in the order of fieldNames(): the four limits, the temperature's four, then the rest.
enum Row {
    LowLow, Low, High, HighHigh,
    TemperatureLowLow, TemperatureLow, TemperatureHigh, TemperatureHighHigh,
    Deadband, DelayS, FailingS, RowCount
};

QString text(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'g', 12) : QString();
}

} // namespace

const QStringList& AlarmSettingsWindow::fieldNames()
{
    static const QStringList names{
        QStringLiteral("low_low"), QStringLiteral("low"), QStringLiteral("high"), QStringLiteral("high_high"),
        QStringLiteral("temperature_low_low"), QStringLiteral("temperature_low"), QStringLiteral("temperature_high"),
        QStringLiteral("temperature_high_high"), QStringLiteral("deadband"), QStringLiteral("delay_s"),
        QStringLiteral("failing_s")};
    return names;
}

AlarmSettingsWindow::AlarmSettingsWindow(Services services, QWidget* parent)
    : QDialog(parent)
    , services_(std::move(services))
{
    static_assert(RowCount == 11);
    setObjectName(QStringLiteral("AlarmSettingsWindow"));
    setWindowTitle(services_.programTitle + QStringLiteral(" [Alarms settings]"));
    build();
    const AlarmSettings stored = AlarmSettings::load(services_.directory);
    if (!stored.problem.isEmpty()) {
        // The input that holds a bad value has no limits in force: its fields start empty, and
        // what OK stores replaces the bad value.
        problem_->setText(stored.problem);
        problem_->show();
    }
    fill(stored);
    // An input that has limits in the file is worth seeing as chosen too.
    for (int i = 0; i < kInputCount; ++i) {
        const auto k = static_cast<size_t>(i);
        choices_[k]->setChecked(services_.chosen[k] || stored.inputs[k].any());
    }
    updateColumns();
}

void AlarmSettingsWindow::build()
{
    auto* outer = new QVBoxLayout(this);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("Problem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #a00000"));
    problem_->hide();
    outer->addWidget(problem_);

    // The grid scrolls on a screen too short for it; OK and Cancel stay below, always in reach.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    auto* grid = new QGridLayout(content);
    const QStringList& names = fieldNames();
    const QStringList notes{
        QStringLiteral("in the panel's unit"), {}, {}, {},
        QStringLiteral("°C"), {}, {}, {},
        QStringLiteral("back inside a limit by this much to clear"), QStringLiteral("seconds a limit must stay crossed"),
        QStringLiteral("seconds without a valid reading (empty: never)")};
    for (int row = 0; row < RowCount; ++row) {
        auto* label = new QLabel(names[row], content);
        label->setToolTip(notes[row]);
        grid->addWidget(label, row + 1, 0);
    }
    for (int i = 0; i < kInputCount; ++i) {
        const auto k = static_cast<size_t>(i);
        const QString tag = services_.tags[k].trimmed();
        auto* choice = new QCheckBox(tag.isEmpty() ? QStringLiteral("Input %1").arg(i)
                                                   : QStringLiteral("Input %1: %2").arg(i).arg(tag),
                                     content);
        choice->setObjectName(QStringLiteral("Input_%1").arg(i));
        choice->setToolTip(QStringLiteral("Store the limits of input %1; unchosen, its section stays as it is").arg(i));
        connect(choice, &QCheckBox::toggled, this, &AlarmSettingsWindow::updateColumns);
        choices_[k] = choice;
        grid->addWidget(choice, 0, i + 1);
        for (int row = 0; row < RowCount; ++row) {
            auto* field = new QLineEdit(content);
            field->setObjectName(QStringLiteral("%1_%2").arg(names[row]).arg(i));
            field->setToolTip(notes[row].isEmpty() ? names[row] : names[row] + QStringLiteral(": ") + notes[row]);
            field->setMaxLength(32);
            fields_[k][static_cast<size_t>(row)] = field;
            grid->addWidget(field, row + 1, i + 1);
        }
    }
    // Separates the main value's limits from the temperature's and from the timing.
    grid->setRowMinimumHeight(RowCount + 1, 8);
    auto* commandLabel = new QLabel(QStringLiteral("Command run at every alarm event (no shell; empty: none):"), content);
    grid->addWidget(commandLabel, RowCount + 2, 0, 1, kInputCount + 1);
    command_ = new QLineEdit(content);
    command_->setObjectName(QStringLiteral("Command"));
    command_->setPlaceholderText(QStringLiteral("/usr/local/bin/zentlog-notify"));
    grid->addWidget(command_, RowCount + 3, 0, 1, kInputCount + 1);
    grid->setRowStretch(RowCount + 4, 1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &AlarmSettingsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
}

void AlarmSettingsWindow::fill(const AlarmSettings& settings)
{
    for (int i = 0; i < kInputCount; ++i) {
        const InputLimits& limits = settings.inputs[static_cast<size_t>(i)];
        const std::array<QString, RowCount> texts{
            text(limits.value.lowLow), text(limits.value.low), text(limits.value.high), text(limits.value.highHigh),
            text(limits.temperature.lowLow), text(limits.temperature.low), text(limits.temperature.high),
            text(limits.temperature.highHigh),
            limits.deadband == 0 ? QString() : text(limits.deadband),
            limits.delayS == 0 ? QString() : text(limits.delayS), text(limits.failingS)};
        for (int row = 0; row < RowCount; ++row)
            fields_[static_cast<size_t>(i)][static_cast<size_t>(row)]->setText(texts[static_cast<size_t>(row)]);
    }
    command_->setText(settings.command);
}

void AlarmSettingsWindow::updateColumns()
{
    for (size_t k = 0; k < choices_.size(); ++k) {
        for (QLineEdit* field : fields_[k])
            field->setEnabled(choices_[k]->isChecked());
    }
}

QLineEdit* AlarmSettingsWindow::field(int input, const QString& key) const
{
    const qsizetype row = fieldNames().indexOf(key);
    if (input < 0 || input >= kInputCount || row < 0)
        return nullptr;
    return fields_[static_cast<size_t>(input)][static_cast<size_t>(row)];
}

void AlarmSettingsWindow::Form_Load()
{
    if (!sized_) {
        ui::fitToScreen(*this, QSize(760, 560), QSize(480, 320));
        sized_ = true;
    }
    show();
    raise();
    activateWindow();
}

std::optional<InputLimits> AlarmSettingsWindow::typedLimits(int input, QString& refusal, QLineEdit*& culprit) const
{
    std::array<std::optional<double>, RowCount> values{};
    for (int row = 0; row < RowCount; ++row) {
        QLineEdit* field = fields_[static_cast<size_t>(input)][static_cast<size_t>(row)];
        const QString typed = field->text().trimmed();
        if (typed.isEmpty())
            continue;
        // The file's own form ("6.5") always; the user's locale ("6,5") too.
        bool ok = false;
        double value = QLocale::c().toDouble(typed, &ok);
        if (!ok)
            value = QLocale().toDouble(typed, &ok);
        if (!ok || !std::isfinite(value)) {
            refusal = QStringLiteral("Input %1: %2 \"%3\" is not a number.").arg(input).arg(fieldNames()[row], typed);
            culprit = field;
            return std::nullopt;
        }
        values[static_cast<size_t>(row)] = value;
    }
    InputLimits limits;
    limits.value = {values[LowLow], values[Low], values[High], values[HighHigh]};
    limits.temperature = {values[TemperatureLowLow], values[TemperatureLow], values[TemperatureHigh],
                          values[TemperatureHighHigh]};
    limits.deadband = values[Deadband].value_or(0);
    limits.delayS = values[DelayS].value_or(0);
    limits.failingS = values[FailingS];
    if (const QString problem = limitsProblem(limits); !problem.isEmpty()) {
        refusal = QStringLiteral("Input %1: %2").arg(input).arg(problem);
        // The field the message names first, so that the user lands on it.
        culprit = fields_[static_cast<size_t>(input)][0];
        for (int row = 0; row < RowCount; ++row) {
            if (problem.startsWith(fieldNames()[row] + QLatin1Char('='))) {
                culprit = fields_[static_cast<size_t>(input)][static_cast<size_t>(row)];
                break;
            }
        }
        return std::nullopt;
    }
    return limits;
}

void AlarmSettingsWindow::refuse(const QString& text, QWidget* field)
{
    services_.dialogs.message(text, ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
    field->setFocus();
}

void AlarmSettingsWindow::accept()
{
    AlarmSettings chosen;
    std::array<bool, kInputCount> which{};
    for (int i = 0; i < kInputCount; ++i) {
        const auto k = static_cast<size_t>(i);
        which[k] = choices_[k]->isChecked();
        if (!which[k])
            continue;
        QString refusal;
        QLineEdit* culprit = nullptr;
        const std::optional<InputLimits> limits = typedLimits(i, refusal, culprit);
        if (!limits)
            return refuse(refusal, culprit);
        chosen.inputs[k] = *limits;
    }
    chosen.command = command_->text().trimmed();
    if (const QString error = chosen.save(which, services_.directory); !error.isEmpty()) {
        services_.dialogs.message(QStringLiteral("The alarm settings could not be stored: %1").arg(error),
                                  ui::Icon::Warning, ui::Buttons::Ok, windowTitle());
        return;
    }
    emit saved();
    QDialog::accept();
}

} // namespace alarms
