#include "app/ui_messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

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

void WidgetMessages::showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep)
{
    QMessageBox box(toBoxIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
    // The box sizes itself when shown: show it, then move it off the place
    // the user has to fix, before its own event loop starts.
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    const QScreen* s = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const QSize frame = box.frameGeometry().size().expandedTo(
        box.size() + QSize(0, box.style()->pixelMetric(QStyle::PM_TitleBarHeight)));
    if (s)
        box.move(ui::placeClearOf(frame, keep, s->availableGeometry()));
    box.exec();
}

bool WidgetMessages::ask(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace ui {

QPoint placeClearOf(const QSize& box, const QRect& keep, const QRect& screen)
{
    const int gap = 8;
    const auto clampX = [&](int x) { return qBound(screen.left(), x, qMax(screen.left(), screen.right() + 1 - box.width())); };
    const auto clampY = [&](int y) { return qBound(screen.top(), y, qMax(screen.top(), screen.bottom() + 1 - box.height())); };
    const int centredX = clampX(keep.center().x() - box.width() / 2);
    if (keep.bottom() + gap + box.height() <= screen.bottom())
        return {centredX, keep.bottom() + gap};
    if (keep.top() - gap - box.height() >= screen.top())
        return {centredX, keep.top() - gap - box.height()};
    const int centredY = clampY(keep.center().y() - box.height() / 2);
    if (keep.right() + gap + box.width() <= screen.right())
        return {keep.right() + gap, centredY};
    return {clampX(keep.left() - gap - box.width()), centredY};
}

} // namespace ui
