#pragma once
// The benchmarks' boxes: printed to the error output instead of shown; no question is answered Yes.

#include "ui/Dialogs.h"

#include <cstdio>

class PrintingDialogs final : public ui::Dialogs {
public:
    ui::Answer message(const QString& text, ui::Icon, ui::Buttons buttons, const QString&) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::No;
    }
    void notify(const QString& text, ui::Icon, const QString&, QWidget*) override
    {
        std::fprintf(stderr, "notify: %s\n", qPrintable(text));
    }
    void ask(const QString& text, ui::Icon, ui::Buttons, const QString&, std::function<void(ui::Answer)> onAnswer,
             QWidget*) override
    {
        std::fprintf(stderr, "ask: %s\n", qPrintable(text));
        onAnswer(ui::Answer::No);
    }
    void beep() override {}
};
