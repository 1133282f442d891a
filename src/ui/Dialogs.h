#pragma once
// Every message box and beep of the program goes through this interface, so that tests can
// answer boxes from a script and see what the user would have seen.

#include <QString>

namespace ui {

enum class Icon { None, Information, Warning, Critical, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal box with one text, an icon and its buttons; returns the button pressed.
    // An empty title means the program's name.
    virtual Answer message(const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                           const QString& title = {}) = 0;
    // The system beep that precedes most refusals.
    virtual void beep() = 0;
};

} // namespace ui
