#include "ui/ui_toolbar.h"

#include "ui/ui_pictures.h"

#include <QAction>
#include <QToolBar>

namespace ui {

QToolBar* keyedToolBar(QWidget* parent, const QString& name, Qt::ToolButtonStyle style)
{
    auto* bar = new QToolBar(parent);
    bar->setObjectName(name);
    bar->setToolButtonStyle(style);
    bar->setIconSize(QSize(16, 16));
    return bar;
}

QAction* keyedAction(QToolBar* bar, const QString& key, const QString& caption, const QString& tip)
{
    QAction* a = bar->addAction(icon(key), caption);
    a->setObjectName(key);
    if (!tip.isEmpty())
        a->setToolTip(tip);
    return a;
}

void okCancel(QToolBar* bar, QAction*& aceptar, QAction*& cancelar)
{
    aceptar = keyedAction(bar, QStringLiteral("cb_aceptar"), QStringLiteral("Aceptar"), QStringLiteral("Aceptar"));
    cancelar = keyedAction(bar, QStringLiteral("cb_cancelar"), QStringLiteral("Cancelar"), QStringLiteral("Cancelar"));
}

} // namespace ui
