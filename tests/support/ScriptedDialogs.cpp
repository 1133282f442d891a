#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace testing_support {

ui::Answer ScriptedDialogs::message(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title)
{
    boxes.append(Box{text, icon, buttons, title, true});
    if (buttons == ui::Buttons::Ok)
        return ui::Answer::Ok;
    return nextAnswer(text);
}

void ScriptedDialogs::notify(const QString& text, ui::Icon icon, const QString& title, QWidget* /*owner*/)
{
    boxes.append(Box{text, icon, ui::Buttons::Ok, title, false});
}

void ScriptedDialogs::ask(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title,
                          std::function<void(ui::Answer)> onAnswer, QWidget* /*owner*/)
{
    boxes.append(Box{text, icon, buttons, title, false});
    onAnswer(buttons == ui::Buttons::Ok ? ui::Answer::Ok : nextAnswer(text));
}

ui::Answer ScriptedDialogs::nextAnswer(const QString& text)
{
    if (script_.empty()) {
        ADD_FAILURE() << "unscripted Yes/No box: " << text.toStdString();
        return ui::Answer::No;
    }
    const ui::Answer next = script_.front();
    script_.pop_front();
    return next;
}

QStringList ScriptedDialogs::texts() const
{
    QStringList result;
    for (const Box& box : boxes)
        result << box.text;
    return result;
}

} // namespace testing_support
