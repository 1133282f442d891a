#pragma once
// Real modal message boxes and the system beep.

#include "ui/Dialogs.h"

namespace ui {

class QtDialogs final : public Dialogs {
public:
    Answer message(const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                   const QString& title = {}) override;
    void beep() override;
};

} // namespace ui
