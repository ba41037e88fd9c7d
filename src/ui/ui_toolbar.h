#pragma once
// Toolbars of keyed buttons: every button is an action whose objectName is
// its key ("cb_aceptar"), as dispatch and tests find them.

#include <QString>
#include <Qt>

class QAction;
class QToolBar;
class QWidget;

namespace ui {

QToolBar* keyedToolBar(QWidget* parent, const QString& name, Qt::ToolButtonStyle style = Qt::ToolButtonTextBesideIcon);
QAction* keyedAction(QToolBar* bar, const QString& key, const QString& caption, const QString& tip = QString());
// The "Aceptar"/"Cancelar" pair of the dialogs.
void okCancel(QToolBar* bar, QAction*& aceptar, QAction*& cancelar);

} // namespace ui
