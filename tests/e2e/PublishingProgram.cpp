// The real program measuring two stations of the simulator's line, publishing what "zentlog.ini"
// in DIRECTORY asks for: a process of its own, so that a test can kill it (SIGKILL) and start it
// again on the same files. Prints "cycle" after every measurement cycle. Ends as a user ends it
// (closing the measurement window and confirming) when its standard input closes.
//   e2e_publishing_program DIRECTORY LINE

#include "ProgramOnSim.h"
#include "ScriptedDialogs.h"

#include "app/Application.h"
#include "measure/F_Mesure.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_publishing_program DIRECTORY LINE\n");
        return 2;
    }
    testing_support::ScriptedDialogs dialogs;
    // pH on station 1, ORP on station 2.
    auto program = testing_support::startMeasuring(
        dialogs, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
        {testing_support::Channel{1, 2, "1", true}, testing_support::Channel{1, 3, "2", true},
         testing_support::Channel{0, -1, "", true}, testing_support::Channel{0, -1, "", true}});
    QObject::connect(program->measurementWindow(), &measure::F_Mesure::cycleCompleted, [] {
        std::printf("cycle\n");
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) > 0)
            return;
        // As a user ends it: closes the measurement window and confirms.
        input.setEnabled(false);
        dialogs.answer(ui::Answer::Yes);
        program->measurementWindow()->close();
    });
    const int status = QApplication::exec();
    for (const auto& box : dialogs.boxes)
        std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
    return status;
}
