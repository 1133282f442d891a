#include "alarms/AlarmCommand.h"

#include <QDateTime>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace alarms {

namespace {
// Output beyond the first line is read and dropped; a command that prints without end costs
// nothing but this much memory.
constexpr qsizetype kMaxLineBytes = 512;

QString numberText(const std::optional<double>& value)
{
    return value ? QLocale::c().toString(*value, 'g', 15) : QString();
}

QString isoTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}
} // namespace

QStringList commandArguments(const AlarmEvent& event)
{
    const Alarm& a = event.alarm;
    return {eventName(event.type), QString::number(a.input), a.tag,          kindName(a.kind),
            numberText(a.value),   numberText(a.limit),      isoTime(event.timeMs)};
}

QStringList commandEnvironment(const AlarmEvent& event)
{
    const Alarm& a = event.alarm;
    return {
        QStringLiteral("ZENTLOG_ALARM_EVENT=") + eventName(event.type),
        QStringLiteral("ZENTLOG_ALARM_INPUT=") + QString::number(a.input),
        QStringLiteral("ZENTLOG_ALARM_TAG=") + a.tag,
        QStringLiteral("ZENTLOG_ALARM_KIND=") + kindName(a.kind),
        QStringLiteral("ZENTLOG_ALARM_VALUE=") + numberText(a.value),
        QStringLiteral("ZENTLOG_ALARM_LIMIT=") + numberText(a.limit),
        QStringLiteral("ZENTLOG_ALARM_TIME=") + isoTime(event.timeMs),
        QStringLiteral("ZENTLOG_ALARM_TIME_MS=") + QString::number(event.timeMs),
        QStringLiteral("ZENTLOG_ALARM_ID=") + QString::number(a.id),
    };
}

AlarmCommand::AlarmCommand(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (!process_)
            return;
        process_->kill();
        // The finished signal follows the kill; done() is called from there.
        killed_ = true;
    });
}

AlarmCommand::~AlarmCommand()
{
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
    }
}

bool AlarmCommand::busy() const
{
    return process_ != nullptr;
}

void AlarmCommand::enqueue(CommandRun run)
{
    queue_.push_back(std::move(run));
    if (!process_)
        startNext();
}

void AlarmCommand::startNext()
{
    if (queue_.empty())
        return;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    firstLine_.clear();
    lineDone_ = false;
    killed_ = false;
    emit started(current_.queueId);
    process_ = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : commandEnvironment(current_.event)) {
        const qsizetype equals = entry.indexOf(u'=');
        environment.insert(entry.left(equals), entry.mid(equals + 1));
    }
    process_->setProcessEnvironment(environment);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyRead, this, [this] {
        const QByteArray bytes = process_->readAll();
        if (lineDone_)
            return;
        const qsizetype end = bytes.indexOf('\n');
        firstLine_ += end >= 0 ? bytes.left(end) : bytes;
        if (end >= 0 || firstLine_.size() >= kMaxLineBytes) {
            firstLine_.truncate(kMaxLineBytes);
            lineDone_ = true;
        }
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(QStringLiteral("cannot be started: %1").arg(process_->errorString()));
    });
    connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        process_->readAll();
        QString outcome;
        if (killed_)
            outcome = QStringLiteral("was stopped after %1 s").arg(options_.timeoutMs / 1000.0);
        else if (status == QProcess::CrashExit)
            outcome = QStringLiteral("ended abnormally");
        else
            outcome = QStringLiteral("exited with status %1").arg(exitCode);
        const QString line = QString::fromUtf8(firstLine_).trimmed();
        done(line.isEmpty() ? outcome : QStringLiteral("%1, first line: %2").arg(outcome, line));
    });
    timer_->start(options_.timeoutMs);
    process_->start(options_.program, commandArguments(current_.event));
}

void AlarmCommand::done(const QString& outcome)
{
    timer_->stop();
    QProcess* process = std::exchange(process_, nullptr);
    if (!process)
        return;
    process->disconnect(this);
    process->deleteLater();
    if (options_.log) {
        const Alarm& a = current_.event.alarm;
        options_.log(QStringLiteral("Alarm command \"%1\" for alarm %2 (input %3, %4, %5) %6.")
                         .arg(options_.program)
                         .arg(a.id)
                         .arg(a.input)
                         .arg(kindName(a.kind), eventName(current_.event.type), outcome));
    }
    emit finished(current_.queueId);
    startNext();
}

} // namespace alarms
