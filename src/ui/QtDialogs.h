#pragma once
// Real message boxes and the system beep.

#include "ui/Dialogs.h"

namespace ui {

class QtDialogs final : public Dialogs {
public:
    Answer message(const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                   const QString& title = {}) override;
    void notify(const QString& text, Icon icon, const QString& title = {}, QWidget* owner = nullptr) override;
    void ask(const QString& text, Icon icon, Buttons buttons, const QString& title,
             std::function<void(Answer)> onAnswer, QWidget* owner = nullptr) override;
    void beep() override;
};

} // namespace ui
