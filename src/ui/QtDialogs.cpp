#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

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
} // namespace

Answer QtDialogs::message(const QString& text, Icon icon, Buttons buttons, const QString& title)
{
    QMessageBox box(toQt(icon), title.isEmpty() ? QApplication::applicationName() : title, text,
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const int pressed = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtDialogs::beep()
{
    QApplication::beep();
}

} // namespace ui
