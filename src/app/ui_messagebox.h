#pragma once
// Message boxes for the message service: the toolkit's modal boxes, each over
// the window it belongs to.

#include "data/messages.h"

class QWidget;

class WidgetMessages : public MessageService {
public:
    void show(const QString& title, const QString& text, Icon icon) override;
    bool ask(const QString& title, const QString& text) override;

    // The window a box shown now belongs to: the open modal dialog, else the
    // child window (or window) that holds the keyboard focus.
    static QWidget* owner();
};
