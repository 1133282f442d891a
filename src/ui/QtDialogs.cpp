#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>

namespace ui {

namespace {

QMessageBox::Icon toQt(Icon icon)
{
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

// The box is owned by its parent window when there is one, and deletes itself once closed
// when it is shown without waiting.
QMessageBox* makeBox(const QString& text, Icon icon, Buttons buttons, const QString& title,
                     QWidget* owner = nullptr)
{
    const QMessageBox::StandardButtons standard =
        buttons == Buttons::Ok ? QMessageBox::StandardButtons(QMessageBox::Ok) : (QMessageBox::Yes | QMessageBox::No);
    auto* box = new QMessageBox(toQt(icon), title.isEmpty() ? QApplication::applicationName() : title, text,
                                standard, owner ? owner : QApplication::activeWindow());
    box->setTextFormat(Qt::PlainText);
    if (buttons == Buttons::YesNoDefaultNo) {
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
    }
    return box;
}

Answer answerOf(Buttons buttons, int pressed)
{
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

} // namespace

Answer QtDialogs::message(const QString& text, Icon icon, Buttons buttons, const QString& title)
{
    const std::unique_ptr<QMessageBox> box(makeBox(text, icon, buttons, title));
    box->setWindowModality(Qt::ApplicationModal);
    return answerOf(buttons, box->exec());
}

void QtDialogs::notify(const QString& text, Icon icon, const QString& title, QWidget* owner)
{
    QMessageBox* box = makeBox(text, icon, Buttons::Ok, title, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal and shown without a nested event loop: the caller returns at once.
    box->open();
}

void QtDialogs::ask(const QString& text, Icon icon, Buttons buttons, const QString& title,
                    std::function<void(Answer)> onAnswer, QWidget* owner)
{
    QMessageBox* box = makeBox(text, icon, buttons, title, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box,
                     [buttons, onAnswer = std::move(onAnswer)](int pressed) { onAnswer(answerOf(buttons, pressed)); });
    box->open();
}

void QtDialogs::beep()
{
    QApplication::beep();
}

} // namespace ui
