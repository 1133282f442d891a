#include "app/AlarmService.h"

#include "alarms/AlarmCommand.h"
#include "alarms/AlarmEvaluator.h"
#include "history/AlarmStore.h"
#include "measure/Reading.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>

namespace app {

namespace {
constexpr int kRecentCount = 100;
}

AlarmService::AlarmService(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , evaluator_(std::make_unique<alarms::AlarmEvaluator>())
    , timer_(new QTimer(this))
{
    if (options_.history) {
        openStore();
        // The states of the last run go on: an alarm raised before a restart stays raised.
        evaluator_->restore(store_->openAlarms(), store_->maxId() + 1);
        for (const alarms::Alarm& alarm : store_->recent(kRecentCount)) {
            if (alarm.state() == alarms::AlarmState::Normal)
                recent_.push_back(alarm);
        }
    }
    // A silent station sends no valid reading: "failing" is checked on the clock too.
    connect(timer_, &QTimer::timeout, this, &AlarmService::tick);
    timer_->start(options_.tickMs);
}

AlarmService::~AlarmService() = default;

void AlarmService::openStore()
{
    history::AlarmStore::Options storeOptions;
    storeOptions.directory = options_.directory;
    storeOptions.report = [this](const QString& text) { emit problem(text); };
    store_ = std::make_unique<history::AlarmStore>(std::move(storeOptions));
}

void AlarmService::setHistory(bool on)
{
    if (on == (store_ != nullptr))
        return;
    options_.history = on;
    if (!on) {
        store_.reset();
        return;
    }
    openStore();
    evaluator_->renumberFrom(store_->maxId() + 1);
    store_->keepStanding(evaluator_->alarms());
    emit alarmsChanged();
}

qint64 AlarmService::now() const
{
    return options_.clock ? options_.clock() : QDateTime::currentMSecsSinceEpoch();
}

void AlarmService::setSettings(const alarms::AlarmSettings& settings, const QString& iniPath)
{
    const bool firstTime = !configured_;
    configured_ = true;
    if (settings.command != settings_.command || firstTime) {
        command_.reset();
        if (!settings.command.isEmpty()) {
            if (const QString refused = alarms::commandFileProblem(iniPath); !refused.isEmpty()) {
                emit problem(refused + QLatin1Char('.'));
            } else {
                alarms::AlarmCommand::Options commandOptions;
                commandOptions.program = settings.command;
                commandOptions.log = [this](const QString& line) { emit logLine(line); };
                command_ = std::make_unique<alarms::AlarmCommand>(std::move(commandOptions));
                connect(command_.get(), &alarms::AlarmCommand::started, this, [this](qint64 queueId) {
                    if (store_)
                        store_->markStarted(queueId, now());
                });
                connect(command_.get(), &alarms::AlarmCommand::finished, this, [this](qint64 queueId) {
                    if (store_)
                        store_->markDone(queueId);
                });
                // What the last run left: a run that had started is not run again, only told;
                // the queued ones run now.
                if (store_) {
                    for (const alarms::CommandRun& run : store_->takeInterruptedRuns())
                        emit logLine(QStringLiteral("Alarm command for alarm %1 (%2) was running when the program "
                                                    "stopped; it is not run again.")
                                         .arg(run.event.alarm.id)
                                         .arg(alarms::eventName(run.event.type)));
                    for (alarms::CommandRun& run : store_->pendingRuns())
                        command_->enqueue(std::move(run));
                }
            }
        }
    }
    settings_ = settings;
    handle(evaluator_->setLimits(settings.inputs, now()));
}

void AlarmService::readings(const std::vector<measure::Reading>& readings)
{
    std::vector<alarms::AlarmEvent> events;
    for (const measure::Reading& reading : readings) {
        std::vector<alarms::AlarmEvent> more = evaluator_->evaluate(reading);
        events.insert(events.end(), more.begin(), more.end());
    }
    handle(std::move(events));
}

void AlarmService::tick()
{
    handle(evaluator_->tick(now()));
}

bool AlarmService::acknowledge(qint64 id)
{
    std::vector<alarms::AlarmEvent> events = evaluator_->acknowledge(id, now());
    const bool any = !events.empty();
    handle(std::move(events));
    return any;
}

void AlarmService::acknowledgeAll()
{
    handle(evaluator_->acknowledgeAll(now()));
}

std::vector<alarms::Alarm> AlarmService::alarms() const
{
    return evaluator_->alarms();
}

std::vector<alarms::Alarm> AlarmService::recent(int count) const
{
    std::vector<alarms::Alarm> result = evaluator_->alarms();
    result.insert(result.end(), recent_.begin(), recent_.end());
    std::sort(result.begin(), result.end(), [](const alarms::Alarm& a, const alarms::Alarm& b) { return a.id > b.id; });
    if (result.size() > static_cast<std::size_t>(std::max(count, 0)))
        result.resize(static_cast<std::size_t>(std::max(count, 0)));
    return result;
}

void AlarmService::handle(std::vector<alarms::AlarmEvent> events)
{
    // A new history file at the name (the old one removed, replaced or emptied) gets the alarms
    // that stand before anything else is written to it.
    if (store_ && store_->followFile())
        store_->keepStanding(evaluator_->alarms());
    if (events.empty())
        return;
    // Written (and the command queued) before anyone is told: an event told is an event kept.
    std::optional<std::vector<alarms::CommandRun>> runs;
    if (store_)
        runs = store_->record(events, command_ != nullptr);
    for (alarms::AlarmEvent& event : events)
        event.inHistory = runs.has_value();
    if (command_) {
        if (!runs) {
            // No history, or it cannot be written: the command still runs, without a queue entry.
            runs.emplace();
            for (const alarms::AlarmEvent& event : events)
                runs->push_back({0, event});
        }
        for (alarms::CommandRun& run : *runs)
            command_->enqueue(std::move(run));
    }
    for (const alarms::AlarmEvent& event : events) {
        if (event.alarm.state() == alarms::AlarmState::Normal) {
            recent_.insert(recent_.begin(), event.alarm);
            if (recent_.size() > static_cast<std::size_t>(kRecentCount))
                recent_.pop_back();
        }
        emit alarmEvent(event);
    }
    emit alarmsChanged();
}

} // namespace app
