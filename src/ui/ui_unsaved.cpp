#include "ui/ui_unsaved.h"

#include "data/messages.h"

#include <QApplication>
#include <QWidget>

namespace ui {

const QString DiscardQuestion = QStringLiteral("Hay cambios sin guardar. ¿Descarta los cambios?");

bool mayClose(MessageService& messages, const UnsavedChanges& w)
{
    return !w.hasUnsavedChanges() || messages.askYesNo(DiscardQuestion);
}

bool mayExit(MessageService& messages)
{
    for (QWidget* w : QApplication::allWidgets())
        if (const auto* u = dynamic_cast<const UnsavedChanges*>(w); u && u->hasUnsavedChanges())
            return messages.askYesNo(DiscardQuestion);
    return true;
}

} // namespace ui
