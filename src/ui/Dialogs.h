#pragma once
// Every message box and beep of the program goes through this interface, so that tests can
// answer boxes from a script and see what the user would have seen.

#include <QString>

#include <functional>

class QWidget;

namespace ui {

enum class Icon { None, Information, Warning, Critical, Question };
// YesNoDefaultNo is for questions whose Yes destroys data: Enter must not answer Yes.
enum class Buttons { Ok, YesNo, YesNoDefaultNo };
enum class Answer { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal box with one text, an icon and its buttons; returns the button pressed.
    // An empty title means the program's name.
    virtual Answer message(const QString& text, Icon icon, Buttons buttons = Buttons::Ok,
                           const QString& title = {}) = 0;

    // Shows an OK box and returns at once; the box stays until the user closes it. For
    // messages raised while the measurement runs: a box that waited for its answer inside a
    // timer handler would keep that timer from firing until someone clicked OK. The box stands
    // over `owner` (null: the active window), so that raising that window never hides it.
    virtual void notify(const QString& text, Icon icon, const QString& title = {}, QWidget* owner = nullptr) = 0;

    // Asks a question without waiting for the answer, which reaches `onAnswer` later (once).
    virtual void ask(const QString& text, Icon icon, Buttons buttons, const QString& title,
                     std::function<void(Answer)> onAnswer, QWidget* owner = nullptr) = 0;

    // The system beep that precedes most refusals.
    virtual void beep() = 0;
};

} // namespace ui
