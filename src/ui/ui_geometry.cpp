#include "ui/ui_geometry.h"

#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QScreen>
#include <QWidget>

namespace ui {

int twips(int t)
{
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return qRound(t * dpi / 1440.0);
}

QSize twipsSize(int w, int h)
{
    return {twips(w), twips(h)};
}

void sizeWindow(QWidget* w, int widthTwips, int heightTwips)
{
    const QSize wanted = twipsSize(widthTwips, heightTwips).expandedTo(w->sizeHint());
    w->setMinimumSize(wanted);
    w->resize(wanted);
}

void placeChild(QWidget* child)
{
    QWidget* frame = child;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget()))
        frame = sub;
    QWidget* area = frame->parentWidget();
    if (!area)
        return centreOnScreen(child);
    const QRect r = area->rect();
    int x = (r.width() - frame->width()) / 2;
    int y = (r.height() - frame->height()) / 2 - twips(700);
    frame->move(qMax(0, x), qMax(0, y));
}

void centreOnScreen(QWidget* w)
{
    const QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect g = s->availableGeometry();
    w->move(g.center() - QPoint(w->width() / 2, w->height() / 2));
}

void centreOver(QWidget* w, const QRect& owner, int aboveTwips)
{
    // The frame is what the user sees; its size is the client's until the
    // window system has framed the window.
    const QSize frame = w->frameGeometry().size().expandedTo(w->size());
    QRect r(QPoint(0, 0), frame);
    r.moveCenter(owner.center() - QPoint(0, twips(aboveTwips)));
    const QScreen* s = QGuiApplication::screenAt(owner.center());
    if (!s)
        s = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (s) {
        const QRect g = s->availableGeometry();
        r.moveLeft(qMax(g.left(), qMin(r.left(), g.right() + 1 - r.width())));
        r.moveTop(qMax(g.top(), qMin(r.top(), g.bottom() + 1 - r.height())));
    }
    w->move(r.topLeft());
}

} // namespace ui
