#include "ui/ui_messagebox.h"

#include "ui/ui_geometry.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
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

// A box centred over the window it belongs to, which for a child of the main
// window is the child's frame, not the whole main window.
class OwnedBox : public QMessageBox {
public:
    OwnedBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* owner)
        : QMessageBox(icon, title, text, buttons, owner ? owner->window() : nullptr), m_owner(owner)
    {
    }

protected:
    void showEvent(QShowEvent* e) override
    {
        // The box has its final size here, and is not on screen yet.
        QMessageBox::showEvent(e);
        if (m_owner)
            ui::centreOver(this, QRect(m_owner->mapToGlobal(QPoint(0, 0)), m_owner->size()));
    }

private:
    QPointer<QWidget> m_owner;
};
} // namespace

QWidget* WidgetMessages::owner()
{
    // A modal dialog that is open owns what it shows.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    QWidget* w = QApplication::focusWidget();
    if (!w)
        w = QApplication::activeWindow();
    for (QWidget* p = w; p; p = p->parentWidget()) {
        if (qobject_cast<QMdiSubWindow*>(p))
            return p;
        if (p->isWindow())
            return p;
    }
    return nullptr;
}

void WidgetMessages::show(const QString& title, const QString& text, Icon icon)
{
    OwnedBox box(toBoxIcon(icon), title, text, QMessageBox::Ok, owner());
    box.exec();
}

void WidgetMessages::showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep)
{
    QMessageBox box(toBoxIcon(icon), title, text, QMessageBox::Ok, owner());
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

bool WidgetMessages::ask(const QString& title, const QString& text, Default defaultAnswer)
{
    OwnedBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setDefaultButton(defaultAnswer == Default::Yes ? QMessageBox::Yes : QMessageBox::No);
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
