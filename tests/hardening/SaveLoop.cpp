// Saves "config.txt" and "PortCom.dat" in the given directory over and over, alternating between
// two complete contents, until it is killed. The crash-safety test kills it at random moments.

#include "config/ChannelConfiguration.h"
#include "serial/PortComFile.h"

#include "ScriptedDialogs.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentlog_save_loop DIRECTORY\n");
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    testing_support::ScriptedDialogs dialogs;
    config::ChannelConfiguration channels(dialogs, directory);
    channels.ensureLoaded();
    serial::SerialSettings settings = serial::SerialSettings::defaults();
    std::puts("saving");
    std::fflush(stdout);
    for (unsigned round = 0;; ++round) {
        const bool second = (round & 1U) != 0;
        for (int i = 0; i < config::kChannelCount; ++i) {
            channels.setSelected(i, second ? 1 : 0);
            channels.setMeasurementType(i, static_cast<int16_t>(second ? i + 4 : -1));
            channels.setStationAddress(i, second ? QString::number(i + 10) : QString::number(i + 1));
            channels.setTag(i, second ? QStringLiteral("second tag %1 with some length to it").arg(i)
                                      : QStringLiteral("first %1").arg(i));
        }
        settings.portNumber = second ? 4 : 1;
        settings.rateIndex = second ? 2 : 0;
        if (!channels.SaveChannelConfig() || !serial::SaveSerialSettings(settings, dialogs, directory))
            return 1;
    }
}
