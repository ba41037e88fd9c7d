#include "app/ui_geometry.h"

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

} // namespace ui
