// The operator's command run for real: one that fails, hangs, prints without end or does not
// exist is logged, and the event loop (the measurement's cycles) goes on meanwhile.

#include "alarms/AlarmCommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

using namespace alarms;

TEST(AlarmCommand, EveryOutcomeIsLoggedAndNothingHoldsUpTheEventLoop)
{
    const struct {
        QString program;
        QString logged;
    } cases[] = {
        {QStringLiteral("/bin/false"), QStringLiteral("exited with status 1.")},
        {QStringLiteral("/nonexistent/notify"), QStringLiteral("cannot be started")},
        {QStringLiteral("/bin/cat"), QStringLiteral("exited with status 1, first line: /bin/cat: raised: No such file")},
        {QStringLiteral("/usr/bin/yes"), QStringLiteral("was stopped after 0.5 s, first line: raised 0 basin pH high 9 8")},
        {QStringLiteral("/bin/echo"), QStringLiteral("exited with status 0, first line: raised 0 basin pH high 9 8 1970-01-01T00:00:01.000Z")},
    };
    AlarmEvent event{AlarmEvent::Type::Raised, 1000, {3, 0, AlarmKind::High, QStringLiteral("basin pH"), 1000, 9.0, 8.0, {}, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        QStringList log;
        AlarmCommand command({c.program, 500, [&](const QString& line) { log << line; }});
        int ticks = 0;
        QTimer cycle;
        QObject::connect(&cycle, &QTimer::timeout, [&] { ++ticks; });
        cycle.start(50);
        int finished = 0;
        QObject::connect(&command, &AlarmCommand::finished, [&](qint64 id) { finished += id == 7 ? 1 : 100; });
        command.enqueue({7, event});
        QElapsedTimer timer;
        timer.start();
        while (finished == 0 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(finished, 1);
        ASSERT_EQ(log.size(), 1);
        EXPECT_TRUE(log[0].contains(c.logged)) << log[0].toStdString();
        // The loop kept turning while the command ran.
        EXPECT_GE(ticks, static_cast<int>(timer.elapsed() / 50 / 3));
    }
}
