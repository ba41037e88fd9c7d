#include "app/ui_messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QMessageBox::Icon toBoxIcon(MessageService::Icon i)
{
    switch (i) {
    case MessageService::Icon::Critical: return QMessageBox::Critical;
    case MessageService::Icon::Question: return QMessageBox::Question;
    case MessageService::Icon::Warning: return QMessageBox::Warning;
    case MessageService::Icon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}
} // namespace

void WidgetMessages::show(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(toBoxIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool WidgetMessages::ask(const QString& title, const QString& text, Default defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(defaultAnswer == Default::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
