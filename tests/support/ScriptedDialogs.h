#pragma once
// Dialogs for tests: records every box and beep, answers Yes/No boxes from a script.
// An OK box needs no script; a Yes/No box without a scripted answer fails the test (answered No)
// instead of hanging it. Boxes shown without waiting (notify, ask) are recorded with `waited`
// false; a question asked that way is answered at once from the script.

#include "ui/Dialogs.h"

#include <QList>
#include <QString>

#include <deque>

namespace testing_support {

class ScriptedDialogs final : public ui::Dialogs {
public:
    struct Box {
        QString text;
        ui::Icon icon;
        ui::Buttons buttons;
        QString title;
        bool waited = true; // false: shown by notify or ask, the caller did not wait
    };

    ui::Answer message(const QString& text, ui::Icon icon, ui::Buttons buttons = ui::Buttons::Ok,
                       const QString& title = {}) override;
    void notify(const QString& text, ui::Icon icon, const QString& title = {}, QWidget* owner = nullptr) override;
    void ask(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title,
             std::function<void(ui::Answer)> onAnswer, QWidget* owner = nullptr) override;
    void beep() override { ++beeps; }

    // Queues the answer for the next Yes/No box.
    void answer(ui::Answer next) { script_.push_back(next); }
    bool scriptUsedUp() const { return script_.empty(); }

    QStringList texts() const;
    void clear()
    {
        boxes.clear();
        beeps = 0;
    }

    QList<Box> boxes;
    int beeps = 0;

private:
    ui::Answer nextAnswer(const QString& text);

    std::deque<ui::Answer> script_;
};

} // namespace testing_support
