#pragma once
// Message boxes for the message service: the toolkit's modal boxes, each over
// the window it belongs to.

#include "data/messages.h"

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

class WidgetMessages : public MessageService {
public:
    void show(const QString& title, const QString& text, Icon icon) override;
    void showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep) override;
    bool ask(const QString& title, const QString& text, Default defaultAnswer) override;

    // The window a box shown now belongs to: the open modal dialog, else the
    // child window (or window) that holds the keyboard focus.
    static QWidget* owner();
};

namespace ui {
// Where a box of `box` size goes so that it does not cover `keep`: below it,
// else above it, else beside it, inside `screen` (all in screen coordinates).
QPoint placeClearOf(const QSize& box, const QRect& keep, const QRect& screen);
} // namespace ui
